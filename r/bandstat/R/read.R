# Reading the program's output files back into the "bandstat" object.

read_outputs <- function(outdir, stem, statistics, population_names, cv_wanted) {
  output <- function(suffix) file.path(outdir, paste0(stem, suffix))
  estimates <- read_statistics(file.path(outdir, statistics))
  count <- nrow(estimates) / 2
  if (is.null(population_names)) population_names <- read_population_names(output("_counts.txt"))
  if (length(population_names) != count) population_names <- as.character(seq_len(count))
  parameters <- rownames(estimates)

  diagnostics <- utils::read.table(output("_diagnostics.txt"), header = TRUE,
                                   stringsAsFactors = FALSE)
  trusted <- diagnostics$trusted[match(parameters, diagnostics$parameter)]
  estimates <- data.frame(
    parameter = sub("[0-9]+$", "", parameters),
    population = as.integer(sub("^[A-Za-z]+", "", parameters)),
    name = population_names[as.integer(sub("^[A-Za-z]+", "", parameters))],
    estimates, trusted = trusted, use = ifelse(trusted, "adjusted", "unadjusted"),
    row.names = parameters, stringsAsFactors = FALSE)

  cv <- NULL
  if (cv_wanted) {
    cv <- list(estimates = utils::read.table(output("_cv.txt"), header = TRUE,
                                             stringsAsFactors = FALSE),
               summary = utils::read.table(output("_cv_summary.txt"), header = TRUE,
                                           stringsAsFactors = FALSE))
  }
  # Only this run's files: the folder may hold others.
  files <- list.files(outdir, full.names = TRUE)
  files <- files[startsWith(basename(files), paste0(stem, "_"))]
  structure(list(
    estimates = estimates,
    samples = list(adjusted = read_samples(output("_regression.txt"), parameters),
                   unadjusted = read_samples(output("_no_regression.txt"), parameters)),
    diagnostics = diagnostics,
    cv = cv,
    run = read_run_record(output("_run.txt")),
    populations = population_names,
    outdir = outdir,
    files = stats::setNames(files, basename(files))),
    class = "bandstat")
}

# The statistics file: a header, then lines "Fis1 mean mode variance [low;high]".
read_statistics <- function(file) {
  lines <- readLines(file, warn = FALSE)[-1]
  lines <- lines[nzchar(lines)]
  fields <- strsplit(lines, " ", fixed = TRUE)
  interval <- strsplit(gsub("[][]", "", vapply(fields, `[`, "", 5)), ";", fixed = TRUE)
  number <- function(i) as.numeric(vapply(fields, `[`, "", i))
  data.frame(mean = number(2), mode = number(3), variance = number(4),
             hpdi_low = as.numeric(vapply(interval, `[`, "", 1)),
             hpdi_high = as.numeric(vapply(interval, `[`, "", 2)),
             row.names = vapply(fields, `[`, "", 1))
}

# The population names of a band-matrix input, from the counts file's second line:
# Populations: 1: "North" (12 individuals), 2: "South" (9 individuals)
read_population_names <- function(file) {
  if (!file.exists(file)) return(NULL)
  line <- grep("^Populations: ", readLines(file, n = 5, warn = FALSE, encoding = "UTF-8"),
               value = TRUE)
  if (length(line) != 1) return(NULL)
  found <- regmatches(line, gregexpr("[0-9]+: \"(.*?)\" \\([0-9]+ individuals?\\)", line,
                                     perl = TRUE))[[1]]
  sub("^[0-9]+: \"(.*)\" \\([0-9]+ individuals?\\)$", "\\1", found, perl = TRUE)
}

read_samples <- function(file, parameters) {
  utils::read.table(file, header = FALSE, col.names = parameters, colClasses = "numeric")
}

# The run record: "key: value" lines under a first line "bandstat X.Y.Z".
read_run_record <- function(file) {
  lines <- readLines(file, warn = FALSE, encoding = "UTF-8")
  keyed <- grepl(": ", lines, fixed = TRUE)
  record <- stats::setNames(sub("^[^:]*: ", "", lines[keyed]),
                            sub(": .*$", "", lines[keyed]))
  seed <- record[["seed"]]
  list(seed = as.numeric(sub(" .*$", "", seed)),
       seed_source = sub("^.*\\((.*)\\)$", "\\1", seed),
       version = sub("^bandstat ", "", lines[1]),
       command = record[["command line"]],
       record = record)
}
