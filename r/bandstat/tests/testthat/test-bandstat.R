# Runs of the program itself, kept small (few accepted draws out of few simulations).

# The statistics file as the command line writes it, parsed here independently of the
# package: name -> mean.
statistics_means <- function(file) {
  fields <- strsplit(readLines(file)[-1], " ", fixed = TRUE)
  stats::setNames(as.numeric(vapply(fields, `[`, "", 2)), vapply(fields, `[`, "", 1))
}

test_that("every input kind gives the estimates of the same band counts", {
  skip_without_program()
  skip_if_not_installed("adegenet")
  individuals <- example_individuals()
  table_file <- tempfile(fileext = ".csv")
  on.exit(unlink(table_file))
  utils::write.csv(individuals, table_file, row.names = FALSE)
  scores <- as.matrix(individuals[-(1:2)])
  rownames(scores) <- individuals$id
  genind <- adegenet::genind(scores, pop = individuals$pop, type = "PA")
  genlight <- methods::new("genlight", scores, pop = individuals$pop, ploidy = 1)

  reference <- quick(example_file())
  fits <- list(table_file = quick(table_file), data_frame = quick(individuals),
               genind = quick(genind), genlight = quick(genlight))
  for (kind in names(fits)) {
    expect_identical(fits[[kind]]$samples, reference$samples, label = kind)
    expect_identical(coef(fits[[kind]]), coef(reference), label = kind)
    expect_identical(fits[[kind]]$populations, paste("population", 1:4), label = kind)
  }
  expect_identical(reference$populations, as.character(1:4))
})

test_that("a table file and its data frame agree, and names come back unchanged", {
  skip_without_program()
  fit <- quick(example_file("table.csv"), nfis = 5, nfst = 5)
  expect_identical(fit$populations, c("Mont Lozere", "Aigoual", "Causse Mejean"))
  expect_identical(fit$estimates["Fst2", "name"], "Aigoual")
  # The file holds missing codes (-9, ?) that read.csv leaves as numbers and text.
  read_back <- utils::read.csv(example_file("table.csv"), check.names = FALSE)
  expect_identical(quick(read_back, nfis = 5, nfst = 5)$samples, fit$samples)

  odd <- data.frame(id = paste0("i", 1:6), pop = rep(c("North, \"upper\"", "Sud-Est"), 3),
                    L1 = c(1, 0, 1, 1, 0, 1), L2 = c(0, 0, 1, 1, NA, 1), L3 = c(1, 1, 0, 1, 0, 0))
  fit <- quick(odd, n = 100, nfis = 2, nfst = 2)
  expect_identical(fit$populations, c("North, \"upper\"", "Sud-Est"))
  expect_identical(bandstat:::read_population_names(fit$files[["data_counts.txt"]]),
                   fit$populations)
})

test_that("the result holds every output of a run with all its flags", {
  skip_without_program()
  fit <- quick(example_file(), cv = 20, keep = TRUE, convert = TRUE, plot = TRUE,
               hpdi = 0.9)
  parameters <- c(paste0("Fis", 1:4), paste0("Fst", 1:4))
  expect_s3_class(fit, "bandstat")
  expect_identical(rownames(fit$estimates), parameters)
  expect_identical(names(fit$estimates), c("parameter", "population", "name", "mean", "mode",
                                           "variance", "hpdi_low", "hpdi_high", "trusted",
                                           "use"))
  expect_true(all(fit$estimates$hpdi_low <= fit$estimates$mean &
                  fit$estimates$mean <= fit$estimates$hpdi_high))
  expect_identical(fit$estimates$trusted, fit$diagnostics$trusted)
  expect_identical(fit$estimates$use == "adjusted", fit$estimates$trusted)
  for (s in fit$samples) expect_identical(dim(s), c(300L, 8L))
  expect_identical(names(fit$samples$adjusted), parameters)
  expect_identical(fit$diagnostics$parameter, parameters)

  expect_identical(dim(fit$cv$estimates), c(20L * 8L, 7L))
  expect_identical(fit$cv$summary$parameter, c(parameters, "Fis", "Fst"))
  expect_identical(substr(fit$cv$verdict, 1, 22),
                   c("Fis: prediction error ", "Fst: prediction error "))

  expect_identical(names(fit$accepted), parameters)
  expect_identical(dim(fit$accepted$Fis1), c(300L, 2L + 15L))
  expect_identical(names(fit$accepted$Fst4)[1:3], c("distance", "Fst", "statistic1"))
  expect_identical(ncol(fit$accepted$Fst4), 2L + 25L)
  # The accepted draws are the unadjusted sample, line for line.
  expect_equal(fit$accepted$Fst2$Fst, fit$samples$unadjusted$Fst2)
  # The conversion uses the posterior means of Fis.
  expect_equal(signif(fit$codominant$fis, 3), unname(coef(fit)[1:4]))
  counts <- fit$codominant$counts
  expect_identical(dim(counts), c(4L * 40L, 5L))
  expect_identical(counts$band + counts$null, counts$n)

  expect_identical(fit$run$seed, 1)
  expect_identical(fit$run$seed_source, "-seed")
  expect_identical(package_version(fit$run$version), bandstat_version(bandstat_program()))
  expect_match(fit$run$command, "-hpdi 0.9 ", fixed = TRUE)
  expect_true(all(c("example_Fis1.txt", "example_codominant.txt", "example_posterior.svg",
                    "example_cv.svg", "example_statistics.txt") %in% names(fit$files)))
  expect_identical(dirname(fit$files[[1]]), fit$outdir)
  expect_identical(as.data.frame(fit), fit$estimates)
})

test_that("coef() gives the means of the statistics file the command line writes", {
  skip_without_program()
  dir <- local_temp_dir()
  processx::run(bandstat_program(), c("-seed", "1", "-n", "300", "-ar", "0.1", "-s",
                                      "stats.txt", "-od", paste0(dir, "/"), example_file()))
  expect_identical(coef(quick(example_file())),
                   statistics_means(file.path(dir, "stats.txt")))
})

test_that("a seed repeats a run whatever nprocs is, and a drawn seed is recorded", {
  skip_without_program()
  one <- quick(example_file(), seed = 7)
  two <- quick(example_file(), seed = 7, nprocs = 2)
  expect_identical(two$samples, one$samples)
  expect_identical(two$estimates, one$estimates)
  expect_false(identical(quick(example_file(), seed = 8)$samples, one$samples))

  drawn <- quick(example_file(), seed = NULL)
  expect_identical(drawn$run$seed_source, "drawn")
  # Drawn seeds run up to 4294967295, so this also checks that large seeds are passed
  # in full.
  again <- quick(example_file(), seed = drawn$run$seed)
  expect_identical(again$samples, drawn$samples)
})

test_that("a refusal by the program becomes an R error with its message", {
  skip_without_program()
  cases <- list(
    list(args = list(ar = 2), message = "Invalid value for -ar: \"2\""),
    list(args = list(cv = 1), message = "-cv"),
    list(args = list(x = "no-such-file.txt"), message = "Could not open file"))
  for (case in cases) {
    outdir <- tempfile()
    args <- utils::modifyList(list(x = example_file(), outdir = outdir), case$args)
    error <- expect_error(do.call(quick, args), class = "bandstat_error")
    expect_match(conditionMessage(error), case$message, fixed = TRUE)
    expect_identical(error$status, 1L)
    # The folder this call created goes with the failed run.
    expect_false(dir.exists(outdir))
  }
})

test_that("further options pass through and the package's own options are kept", {
  expect_identical(bandstat:::extra_options(list(sims = 1e5, gof = TRUE, method = "rf",
                                                 off = FALSE, none = NULL)),
                   c("-sims", "100000", "-gof", "-method", "rf"))
  expect_error(bandstat:::extra_options(list(od = "elsewhere/")), "-od is set by bandstat()",
               fixed = TRUE)
  expect_error(bandstat:::extra_options(list(1)), "name = value", fixed = TRUE)
  skip_without_program()
  # -help is the one option of the program without an argument here.
  fit <- quick(example_file(), help = TRUE)
  expect_match(fit$run$command, " -help -o ", fixed = TRUE)
  expect_error(quick(example_file(), n = c(100, 200)), "single value", fixed = TRUE)
})

test_that("the progress, print, summary and the plots show the result", {
  skip_without_program()
  withr::with_options(list(bandstat.progress = TRUE),
                      expect_output(fit <- quick(example_file(), cv = 20), "Pilot run"))
  expect_true(any(grepl("done!", fit$log, fixed = TRUE)))
  expect_output(print(fit), "Fis and Fst of 4 populations, 300 accepted draws each, seed 1")
  expect_output(print(fit), "Cross-validation. Fis: prediction error")
  expect_output(print(summary(fit)), "Diagnostics:")
  for (which in c("posterior", "cv")) {
    file <- tempfile(fileext = ".png")
    grDevices::png(file)
    plot(fit, which = which)
    grDevices::dev.off()
    expect_gt(file.size(file), 1000)
    unlink(file)
  }
  expect_error(plot(quick(example_file()), which = "cv"), "no cross-validation",
               fixed = TRUE)
})

# Starts R on a default run (long enough to be caught in the middle) writing to outdir,
# waits until the program has incomplete files there, and sends SIGINT to R alone, as a
# GUI's Esc interrupts R without signalling the program: the package must pass it on.
interrupt_run <- function(outdir) {
  script <- tempfile(fileext = ".R")
  log <- tempfile()
  on.exit(unlink(c(script, log)), add = TRUE)
  writeLines(sprintf("library(bandstat); bandstat(%s, outdir = %s, keep = TRUE)",
                     deparse(example_file()), deparse(outdir)), script)
  r <- processx::process$new(file.path(R.home("bin"), "Rscript"), script,
                             env = c("current", R_LIBS = paste(.libPaths(), collapse = ":"),
                                     BANDSTAT_PROGRAM = bandstat_program()),
                             stdout = log, stderr = "2>&1")
  on.exit(r$kill(), add = TRUE)
  waited <- 0
  while (length(list.files(outdir, "\\.part$")) == 0 && waited < 60 && r$is_alive()) {
    Sys.sleep(0.1)
    waited <- waited + 0.1
  }
  expect_gt(length(list.files(outdir, "\\.part$")), 0,
            label = paste(c("the run's files; R said:", readLines(log)), collapse = "\n"))
  r$signal(tools::SIGINT)
  r$wait(30000)
  expect_false(r$is_alive())
}

test_that("an interrupt stops the program and leaves no incomplete output", {
  skip_without_program()
  skip_on_os("windows")
  # The R started here loads the installed package, which a development load lacks.
  skip_if_not(dir.exists(file.path(find.package("bandstat"), "Meta")),
              "the package is not installed")
  # A folder of the user's: the program's own rule, no incomplete file, and a program
  # that no longer runs (it would go on writing its files).
  outdir <- local_temp_dir()
  interrupt_run(outdir)
  Sys.sleep(1)
  expect_identical(list.files(outdir), "example_check-input.txt")
  # A folder the call created goes with the stopped run.
  outdir <- tempfile()
  interrupt_run(outdir)
  expect_false(dir.exists(outdir))
})
