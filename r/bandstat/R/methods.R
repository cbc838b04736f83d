# Methods of the "bandstat" result.

#' Show, summarise and extract a bandstat result
#'
#' \code{print} shows the posterior mean and HPDI of Fis and Fst per population in one
#' table, marks the estimates the diagnostics do not trust, and gives the
#' cross-validation's verdict. \code{summary} adds the posterior mode and variance, the
#' diagnostics and the cross-validation summary. \code{coef} gives the posterior means of
#' the regression-adjusted samples, named \code{Fis1} ... \code{FstJ} as in the program's
#' statistics file; \code{as.data.frame} gives the estimates table.
#'
#' @param x,object A result of \code{\link{bandstat}}.
#' @param digits Significant digits shown.
#' @param row.names,optional Not used; for the generic.
#' @param ... Not used.
#' @return \code{print} returns \code{x} invisibly; \code{summary} an object of class
#'   \code{"summary.bandstat"} (a list of \code{estimates}, \code{diagnostics}, \code{cv},
#'   \code{run}); \code{coef} a named numeric vector; \code{as.data.frame} a data frame.
#' @examples
#' if (nzchar(bandstat_program(must_work = FALSE))) {
#'   example <- system.file("extdata", "example.txt", package = "bandstat")
#'   fit <- suppressWarnings(bandstat(example, seed = 1, n = 300, ar = 0.1, cv = 20))
#'   print(fit)
#'   summary(fit)
#'   coef(fit)["Fst1"]
#'   head(as.data.frame(fit))
#' }
#' @name bandstat-methods
NULL

#' @rdname bandstat-methods
#' @export
print.bandstat <- function(x, digits = 3, ...) {
  e <- x$estimates
  cat(sprintf("bandstat %s: Fis and Fst of %d populations, %d accepted draws each, seed %s\n",
              x$run$version, length(x$populations), nrow(x$samples$adjusted),
              format(x$run$seed, scientific = FALSE)))
  cell <- function(rows) {
    sprintf("%s [%s, %s]%s", signif(e$mean[rows], digits), signif(e$hpdi_low[rows], digits),
            signif(e$hpdi_high[rows], digits), ifelse(e$trusted[rows], "", " *"))
  }
  fis <- e$parameter == "Fis"
  fst <- e$parameter == "Fst"
  table <- data.frame(Population = e$name[fis], Fis = cell(fis), Fst = cell(fst),
                      check.names = FALSE)
  print(format(table, justify = "left"), row.names = FALSE, right = FALSE)
  cat(sprintf("Posterior means of the adjusted samples, with their %s%% HPDI.\n",
              format(100 * x$hpdi)))
  if (!all(e$trusted)) {
    cat("* not to be trusted (see the diagnostics): use the unadjusted sample,",
        "x$samples$unadjusted.\n")
  }
  if (!is.null(x$cv)) cat(paste0("Cross-validation. ", x$cv$verdict, "\n"), sep = "")
  invisible(x)
}

#' @rdname bandstat-methods
#' @export
summary.bandstat <- function(object, ...) {
  structure(list(estimates = object$estimates, diagnostics = object$diagnostics,
                 cv = object$cv, run = object$run, hpdi = object$hpdi),
            class = "summary.bandstat")
}

#' @rdname bandstat-methods
#' @export
print.summary.bandstat <- function(x, digits = 3, ...) {
  cat(sprintf("bandstat %s, seed %s (%s)\ncommand line: %s\n\n", x$run$version,
              format(x$run$seed, scientific = FALSE), x$run$seed_source, x$run$command))
  cat(sprintf("Posterior of the adjusted samples (%s%% HPDI):\n", format(100 * x$hpdi)))
  print(x$estimates[c("name", "mean", "mode", "variance", "hpdi_low", "hpdi_high",
                      "trusted", "use")], digits = digits)
  cat("\nDiagnostics:\n")
  print(x$diagnostics, digits = digits, row.names = FALSE)
  if (!is.null(x$cv)) {
    cat("\nCross-validation:\n")
    print(x$cv$summary, digits = digits, row.names = FALSE)
    cat(paste0(x$cv$verdict, "\n"), sep = "")
  }
  invisible(x)
}

#' @rdname bandstat-methods
#' @export
coef.bandstat <- function(object, ...) {
  stats::setNames(object$estimates$mean, rownames(object$estimates))
}

#' @rdname bandstat-methods
#' @export
as.data.frame.bandstat <- function(x, row.names = NULL, optional = FALSE, ...) {
  x$estimates
}

#' Plot a bandstat result
#'
#' \code{which = "posterior"} draws, for every population, a Fis and an Fst panel side by
#' side: the uniform prior (dotted), the density of the unadjusted sample (orange) and of
#' the adjusted sample (blue), the adjusted HPDI (shaded) and the adjusted mean (dashed).
#' The x axis always spans 0 to 1, so that the panels compare at a glance.
#' \code{which = "cv"} (for a run with \code{cv > 0}) draws the estimated against the
#' true value of the cross-validation, populations pooled, one panel for Fis and one for
#' Fst: adjusted means as blue points, unadjusted means as orange rings, and the identity
#' line. Points along the line mean the data determine the parameter; a flat cloud near 0.5
#' means the estimate repeats the prior.
#'
#' @param x A result of \code{\link{bandstat}}.
#' @param which \code{"posterior"} or \code{"cv"}.
#' @param ... Further graphical parameters for the panels.
#' @return \code{x}, invisibly.
#' @examples
#' if (nzchar(bandstat_program(must_work = FALSE))) {
#'   example <- system.file("extdata", "example.txt", package = "bandstat")
#'   fit <- suppressWarnings(bandstat(example, seed = 1, n = 300, ar = 0.1, cv = 20))
#'   plot(fit)
#'   plot(fit, which = "cv")
#' }
#' @export
plot.bandstat <- function(x, which = c("posterior", "cv"), ...) {
  which <- match.arg(which)
  if (which == "cv") {
    if (is.null(x$cv)) stop("This fit has no cross-validation: run bandstat() with cv = N.",
                            call. = FALSE)
    old <- graphics::par(mfrow = c(1, 2))
    on.exit(graphics::par(old))
    for (parameter in c("Fis", "Fst")) plot_cv_panel(x$cv$estimates, parameter, ...)
    return(invisible(x))
  }
  count <- length(x$populations)
  # Pairs of panels per row chosen so that the grid stays about square: a pair is two
  # panels wide, so there are about twice as many rows as pairs in a row.
  pairs <- ceiling(sqrt(count / 2))
  old <- graphics::par(mfrow = c(ceiling(count / pairs), 2 * pairs),
                       mar = c(3, 3, 2, 0.5), mgp = c(1.8, 0.6, 0))
  on.exit(graphics::par(old))
  for (p in seq_len(count)) {
    for (parameter in c("Fis", "Fst")) plot_posterior_panel(x, parameter, p, ...)
  }
  invisible(x)
}

adjusted_colour <- "#1f5fbf"
unadjusted_colour <- "#e07b00"

plot_posterior_panel <- function(x, parameter, p, ...) {
  column <- paste0(parameter, p)
  estimate <- x$estimates[column, ]
  densities <- lapply(x$samples[c("adjusted", "unadjusted")],
                      function(s) stats::density(s[[column]], from = 0, to = 1))
  top <- max(1, vapply(densities, function(d) max(d$y), 0)) * 1.05
  # A band-count file names its populations by number only.
  name <- x$populations[p]
  if (name == as.character(p)) name <- paste("population", p)
  graphics::plot(NULL, xlim = c(0, 1), ylim = c(0, top), xlab = parameter,
                 ylab = "density", main = paste0(parameter, ", ", name), ...)
  graphics::rect(estimate$hpdi_low, 0, estimate$hpdi_high, top, border = NA,
                 col = grDevices::adjustcolor(adjusted_colour, alpha.f = 0.15))
  graphics::segments(0, 1, 1, 1, lty = 3)
  graphics::lines(densities$unadjusted, col = unadjusted_colour, lwd = 1.5)
  graphics::lines(densities$adjusted, col = adjusted_colour, lwd = 2)
  graphics::abline(v = estimate$mean, lty = 2, col = adjusted_colour)
}

plot_cv_panel <- function(cv, parameter, ...) {
  rows <- startsWith(cv$parameter, parameter)
  graphics::plot(cv$true[rows], cv$mean_adjusted[rows], xlim = c(0, 1), ylim = c(0, 1),
                 pch = 19, col = adjusted_colour, xlab = paste("true", parameter),
                 ylab = paste("estimated", parameter), main = parameter, ...)
  graphics::points(cv$true[rows], cv$mean_unadjusted[rows], col = unadjusted_colour)
  graphics::abline(0, 1, lty = 2)
}
