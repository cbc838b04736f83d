# The program under test: BANDSTAT_PROGRAM (CI sets it to the program built from the
# repository), or whatever bandstat_program() finds. Tests that run it are skipped only
# when there is none; a BANDSTAT_PROGRAM that names no usable program fails them instead,
# so that a broken setting in CI cannot pass as a skip.
skip_without_program <- function() {
  if (nzchar(Sys.getenv("BANDSTAT_PROGRAM"))) return(invisible(bandstat_program()))
  if (!nzchar(bandstat_program(must_work = FALSE))) skip("no bandstat program found")
}

example_file <- function(name = "example.txt") {
  system.file("extdata", name, package = "bandstat", mustWork = TRUE)
}

# A small, quick run: few accepted draws out of few simulations. The program's warnings
# about untrustworthy estimates are expected at this size.
quick <- function(x, ..., n = 300, ar = 0.1, seed = 1) {
  suppressWarnings(bandstat(x, ..., n = n, ar = ar, seed = seed))
}

# The bundled band counts as individuals: in population p, at locus l, the first k of the
# n individuals show the band. Tallied back, these rows give exactly the counts of the
# file, so every input kind built from them must give the file's estimates.
example_individuals <- function() {
  lines <- readLines(example_file())
  block <- cumsum(grepl("^\\[pop\\]=", lines))
  counts <- grepl("^[0-9]+ [0-9]+ [0-9]+$", lines)
  tally <- do.call(rbind, lapply(strsplit(lines[counts], " "), as.integer))
  tally <- data.frame(pop = block[counts], locus = tally[, 1], n = tally[, 2], k = tally[, 3])
  rows <- lapply(split(tally, tally$pop), function(t) {
    size <- t$n[1]
    scores <- vapply(t$k, function(k) as.integer(seq_len(size) <= k), integer(size))
    colnames(scores) <- paste0("L", t$locus)
    data.frame(id = paste0("P", t$pop[1], "_", seq_len(size)),
               pop = paste("population", t$pop[1]), scores, check.names = FALSE)
  })
  do.call(rbind, unname(rows))
}

# A stand-in program for the discovery tests: a shell script that answers -version with
# the given line (or, with NULL, prints a usage text as a program without -version does).
stub_program <- function(dir, version_line, name = "bandstat") {
  dir.create(dir, showWarnings = FALSE)
  path <- file.path(dir, name)
  answer <- if (is.null(version_line)) "echo 'Usage: bandstat [options] file'"
            else sprintf("echo '%s'", version_line)
  writeLines(c("#!/bin/sh", answer), path)
  Sys.chmod(path, "755")
  path
}

local_temp_dir <- function(envir = parent.frame()) {
  dir <- tempfile("bandstat-test")
  dir.create(dir)
  withr::defer(unlink(dir, recursive = TRUE), envir = envir)
  dir
}

# Sets the option bandstat.program and BANDSTAT_PROGRAM for the rest of the calling test
# (NULL removes the option), restoring both afterwards.
local_settings <- function(option, env, envir = parent.frame()) {
  old_option <- options(bandstat.program = option)
  old_env <- Sys.getenv("BANDSTAT_PROGRAM", unset = NA)
  Sys.setenv(BANDSTAT_PROGRAM = env)
  withr::defer({
    options(old_option)
    if (is.na(old_env)) Sys.unsetenv("BANDSTAT_PROGRAM") else Sys.setenv(BANDSTAT_PROGRAM = old_env)
  }, envir = envir)
}
