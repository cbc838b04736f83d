#' Estimate Fis and Fst of every population with the bandstat program
#'
#' Writes the data for the program when they are an R object, runs the program with the
#' arguments translated into its options, and reads every output back into one object.
#'
#' The populations are numbered as the program numbers them, in the order in which they
#' first appear in the rows (for a file, as the program reads it); the estimates name them
#' as well. A factor's level order plays no part.
#'
#' Every option of the program has an argument here. \code{n}, \code{ar}, \code{nprocs},
#' \code{nfis}, \code{nfst}, \code{hpdi}, \code{bh} and \code{bf} are always passed; the
#' others only when they ask for something. The output stem, folder and statistics file
#' (\code{-o}, \code{-od}, \code{-s}) are chosen by this function, which needs them to find
#' the outputs. Options of later programs go through \code{...}: \code{sims = 100} becomes
#' \code{-sims 100}, \code{flag = TRUE} becomes \code{-flag}, and \code{FALSE} or
#' \code{NULL} leaves the option out.
#'
#' While the program runs, its progress is shown when \code{getOption("bandstat.progress")}
#' is \code{TRUE}, which is the default in an interactive session; \code{fit$log} keeps it.
#'
#' A run that the program refuses becomes an R error whose message is the program's own
#' (class \code{bandstat_error}, with the exit status and the program's output in the
#' condition). Warnings the program prints (estimates not to be trusted, loci that cannot
#' be simulated) become one R warning. An interrupt (Ctrl-C or Esc) or any other error while
#' the program runs stops the program with SIGINT and waits for it, so that it removes its
#' incomplete files, and then removes the checkpoint the program keeps for a resumed run;
#' when this call created \code{outdir}, it removes it as well, so nothing of the stopped
#' run is left.
#'
#' @param x The data: the name of a file in any layout the program reads (band counts,
#'   GenAlEx, table, DArT); a data frame with an id column, a population column and one
#'   column of 0/1/NA scores per locus (the missing codes of the program's table files,
#'   \code{-1}, \code{-9}, \code{"-"}, \code{"?"}, \code{"."} and \code{""}, are read as
#'   \code{NA} too); a \code{genind} object of presence/absence type
#'   (\code{type = "PA"}); or a \code{genlight} object of presence/absence scores. The
#'   populations of a \code{genind} or \code{genlight} are its \code{pop()}.
#' @param pops For a data frame, the population column (a name or a number; the default is
#'   the second column, the id column is the first of the others). For a \code{genind} or
#'   \code{genlight}, optionally the population of every individual instead of its
#'   \code{pop()}. For a DArT report file, the file of populations (\code{-pops}).
#' @param seed Seed of the random numbers, a whole number from 0 to 4294967295
#'   (\code{-seed}); \code{NULL} lets the program draw one, which the run record keeps.
#' @param n Accepted draws per population and parameter (\code{-n}).
#' @param ar Acceptance ratio, strictly between 0 and 1 (\code{-ar}).
#' @param nprocs Worker threads (\code{-nprocs}); it does not change the results.
#' @param cv Number of simulated data sets for the cross-validation (\code{-cv}); 0 for none.
#' @param hpdi Coverage of the highest posterior density interval (\code{-hpdi}).
#' @param keep Keep the files of accepted draws of every population (\code{-keep}).
#' @param outdir Folder for the program's outputs; created when missing.
#' @param program The program to run, see \code{\link{bandstat_program}}.
#' @param nfis,nfst Number of summary statistics for Fis and for Fst (\code{-nfis},
#'   \code{-nfst}).
#' @param convert Also write the data as codominant allele counts (\code{-convert}).
#' @param bh,bf Locus filter of the simulations: at least \code{bh} individuals show the
#'   band and at least \code{bf} lack it (\code{-bh}, \code{-bf}).
#' @param plot Also write the program's SVG figures (\code{-plot}).
#' @param format The layout of a file, one of \code{"counts"}, \code{"genalex"},
#'   \code{"table"}, \code{"dart"} (\code{-format}); \code{NULL} lets the program recognise it.
#' @param ... Further options of the program, as \code{name = value}.
#' @return An object of class \code{"bandstat"}, a list with
#'   \describe{
#'     \item{estimates}{a data frame with one row per parameter (\code{Fis1} ... \code{FisJ},
#'       \code{Fst1} ... \code{FstJ}): \code{parameter} ("Fis" or "Fst"), \code{population}
#'       (its number), \code{name}, the posterior \code{mean}, \code{mode} and
#'       \code{variance} and the HPDI bounds \code{hpdi_low}, \code{hpdi_high} of the
#'       regression-adjusted sample, \code{trusted} (from the diagnostics) and \code{use}:
#'       "adjusted" when the adjusted estimate can be trusted, otherwise "unadjusted";}
#'     \item{samples}{a list of two data frames, \code{adjusted} and \code{unadjusted}, with
#'       one column per parameter and one row per accepted draw;}
#'     \item{diagnostics}{the diagnostics table;}
#'     \item{cv}{with \code{cv > 0}, a list of \code{estimates} (one row per data set and
#'       parameter), \code{summary} (prediction errors and coverages) and \code{verdict}
#'       (the program's sentences on pooled Fis and Fst); otherwise \code{NULL};}
#'     \item{accepted}{with \code{keep = TRUE}, the accepted draws of every population and
#'       parameter (a list of data frames named \code{Fis1} ... \code{FstJ}: the
#'       \code{distance}, the drawn value, and the differences simulated minus observed of
#'       the summary statistics); otherwise \code{NULL};}
#'     \item{codominant}{with \code{convert = TRUE}, the codominant conversion: \code{fis},
#'       the Fis used per population, and \code{counts}, a data frame of \code{population},
#'       \code{locus}, \code{n}, and the allele counts \code{band} and \code{null};
#'       otherwise \code{NULL};}
#'     \item{run}{the run record: \code{seed}, \code{seed_source} ("-seed" or "drawn"),
#'       \code{version}, \code{command}, and \code{record}, all its lines by name;}
#'     \item{populations}{the population names, in the program's order;}
#'     \item{hpdi}{the HPDI coverage;}
#'     \item{outdir, files}{the output folder and the paths of the output files;}
#'     \item{log}{what the program printed on standard output.}
#'   }
#' @seealso \code{\link{print.bandstat}}, \code{\link{plot.bandstat}},
#'   \code{\link{bandstat_program}}
#' @examples
#' if (nzchar(bandstat_program(must_work = FALSE))) {
#'   example <- system.file("extdata", "example.txt", package = "bandstat")
#'   # A small run, to show the result quickly; use the defaults for real estimates.
#'   fit <- suppressWarnings(bandstat(example, seed = 1, n = 200, ar = 0.1))
#'   fit
#'   coef(fit)
#'
#'   # A data frame of individuals: id, population, then one 0/1/NA column per locus.
#'   bands <- read.csv(system.file("extdata", "table.csv", package = "bandstat"),
#'                     check.names = FALSE)
#'   fit2 <- suppressWarnings(bandstat(bands, seed = 1, n = 200, ar = 0.1,
#'                                     nfis = 5, nfst = 5))
#'   fit2$estimates
#' }
#' @export
bandstat <- function(x, pops = NULL, seed = NULL, n = 5000, ar = 0.005, nprocs = 1, cv = 0,
                     hpdi = 0.95, keep = FALSE, outdir = tempfile("bandstat"),
                     program = bandstat_program(), nfis = 15, nfst = 25, convert = FALSE,
                     bh = 1, bf = 0, plot = FALSE, format = NULL, ...) {
  force(program)
  created <- !dir.exists(outdir)
  if (created && !dir.create(outdir, recursive = TRUE)) {
    stop("Could not create the output folder \"", outdir, "\".", call. = FALSE)
  }
  outdir <- normalizePath(outdir)
  finished <- FALSE
  on.exit(if (!finished && created) unlink(outdir, recursive = TRUE), add = TRUE)

  if (is.character(x)) {
    if (length(x) != 1) stop("x must name one file.", call. = FALSE)
    # In full, so that the run record's command line can be repeated from any folder.
    input <- normalizePath(path.expand(x), mustWork = FALSE)
    stem <- tools::file_path_sans_ext(basename(x))
    population_names <- NULL
    pops_file <- pops
  } else {
    data <- band_matrix(x, pops)
    stem <- "data"
    input <- file.path(outdir, "data.csv")
    write_band_table(data, input)
    population_names <- unique(data$pops)
    pops_file <- NULL
  }

  statistics <- paste0(stem, "_statistics.txt")
  cv_wanted <- !identical(as.numeric(cv), 0)
  args <- c(
    value_option("n", n), value_option("ar", ar), value_option("nprocs", nprocs),
    value_option("nfis", nfis), value_option("nfst", nfst), value_option("hpdi", hpdi),
    value_option("bh", bh), value_option("bf", bf),
    if (!is.null(seed)) value_option("seed", seed),
    if (cv_wanted) value_option("cv", cv),
    if (!is.null(format)) value_option("format", format),
    if (!is.null(pops_file)) value_option("pops", path.expand(pops_file)),
    flag_option("keep", keep), flag_option("convert", convert), flag_option("plot", plot),
    extra_options(list(...)),
    "-o", stem, "-od", paste0(outdir, "/"), "-s", statistics, input)

  ran <- run_program(program, args, outdir, stem)
  if (ran$status != 0) refusal(ran)
  notes <- ran$stderr[nzchar(trimws(ran$stderr))]
  if (length(notes) > 0) warning(paste(notes, collapse = "\n"), call. = FALSE)

  fit <- read_outputs(outdir, stem, statistics, population_names, cv_wanted, keep, convert)
  fit$hpdi <- hpdi
  fit$log <- ran$stdout
  if (!is.null(fit$cv)) fit$cv$verdict <- grep("^(Fis|Fst): prediction error", ran$stdout,
                                               value = TRUE)
  finished <- TRUE
  fit
}

# One option with its value, as separate words (no shell sits between R and the program,
# so no value needs quoting).
value_option <- function(name, value) {
  if (length(value) != 1 || is.na(value)) {
    stop("The value of ", name, " must be a single value, not ", deparse(value), ".",
         call. = FALSE)
  }
  c(paste0("-", name), option_text(value))
}

# Whole numbers are written out in full: as.character(1e5) is "1e+05", which the program
# would read as 1.
option_text <- function(value) {
  if (is.numeric(value)) {
    if (is.finite(value) && value == round(value)) return(sprintf("%.0f", value))
    return(format(value, digits = 15))
  }
  as.character(value)
}

flag_option <- function(name, value) {
  if (!is.logical(value) || length(value) != 1 || is.na(value)) {
    stop(name, " must be TRUE or FALSE.", call. = FALSE)
  }
  if (value) paste0("-", name)
}

# The options the package chooses itself: another value would send the outputs where the
# readers do not look.
managed_options <- c("o", "od", "s")

extra_options <- function(extra) {
  if (length(extra) == 0) return(character(0))
  named <- names(extra)
  if (is.null(named) || any(!nzchar(named))) {
    stop("Further options must be given as name = value.", call. = FALSE)
  }
  clash <- intersect(named, managed_options)
  if (length(clash) > 0) {
    stop("The option ", paste0("-", clash, collapse = ", "), " is set by bandstat() ",
         "itself; choose the folder with outdir.", call. = FALSE)
  }
  unlist(lapply(named, function(name) {
    value <- extra[[name]]
    if (is.null(value) || identical(value, FALSE)) return(NULL)
    if (identical(value, TRUE)) return(paste0("-", name))
    value_option(name, value)
  }))
}

# Runs the program to its end, showing its progress gauge when the option
# bandstat.progress is TRUE (by default in an interactive session). On an interrupt or an
# error in R the program gets SIGINT, as Ctrl-C in a terminal would give it, and is waited
# for: it then removes its incomplete files itself, and the checkpoint that it keeps for a
# resumed command-line run goes too (remove_checkpoint). A program that does not stop within
# the grace time is killed.
run_program <- function(program, args, outdir, stem) {
  show <- isTRUE(getOption("bandstat.progress", interactive()))
  stderr_file <- tempfile("bandstat-stderr")
  on.exit(unlink(stderr_file), add = TRUE)
  child <- processx::process$new(program, args, stdout = "|", stderr = stderr_file,
                                 cleanup = TRUE)
  ended <- FALSE
  on.exit(if (!ended) {
    stop_program(child)
    remove_checkpoint(outdir, stem)
  }, add = TRUE)
  output <- character(0)
  # poll_io() returns to R at least every half second, so that an interrupt is seen
  # promptly; the pipe is drained as it fills, so the program never waits on it.
  while (child$is_alive() || child$is_incomplete_output()) {
    child$poll_io(500)
    chunk <- child$read_output()
    if (nzchar(chunk)) {
      output <- c(output, chunk)
      if (show) cat(chunk)
    }
  }
  child$wait()
  ended <- TRUE
  list(status = child$get_exit_status(),
       stdout = strsplit(paste(output, collapse = ""), "\n", fixed = TRUE)[[1]],
       stderr = if (file.exists(stderr_file)) readLines(stderr_file, warn = FALSE) else
         character(0))
}

# Seconds the program has to remove its incomplete files after SIGINT.
stop_grace_seconds <- 10

stop_program <- function(child) {
  if (!child$is_alive()) return(invisible())
  child$signal(tools::SIGINT)
  child$wait(stop_grace_seconds * 1000)
  if (child$is_alive()) child$kill()
  invisible()
}

# An interrupted program keeps its checkpoint and the incomplete files the checkpoint needs,
# so that a run from the command line can be resumed; a call from R is not resumed, so they
# go, and no partial output stays behind.
remove_checkpoint <- function(outdir, stem) {
  checkpoint <- file.path(outdir, paste0(stem, "_checkpoint"))
  if (!file.exists(checkpoint)) return(invisible())
  files <- list.files(outdir, full.names = TRUE)
  kept <- files[startsWith(basename(files), paste0(stem, "_")) & endsWith(files, ".part")]
  unlink(c(checkpoint, paste0(checkpoint, "_rows"), kept))
  invisible()
}

refusal <- function(ran) {
  said <- ran$stderr[nzchar(trimws(ran$stderr))]
  if (length(said) == 0) said <- utils::tail(ran$stdout[nzchar(trimws(ran$stdout))], 5)
  if (length(said) == 0) said <- "(it printed nothing)"
  stop(structure(
    class = c("bandstat_error", "error", "condition"),
    list(message = paste0("bandstat stopped with status ", ran$status, ": ",
                          paste(said, collapse = "\n")),
         call = NULL, status = ran$status, stdout = ran$stdout, stderr = ran$stderr)))
}
