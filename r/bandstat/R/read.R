# Reading the program's output files back into the "bandstat" object.

read_outputs <- function(outdir, stem, statistics, population_names, cv_wanted, keep,
                         convert) {
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
  accepted <- NULL
  if (keep) {
    accepted <- lapply(stats::setNames(nm = parameters), function(parameter) {
      read_accepted(output(paste0("_", parameter, ".txt")), sub("[0-9]+$", "", parameter))
    })
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
    accepted = accepted,
    codominant = if (convert) read_codominant(output("_codominant.txt")),
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

# One population's accepted draws (-keep): per line the distance, the drawn value, then the
# differences simulated minus observed of each summary statistic.
read_accepted <- function(file, parameter) {
  draws <- utils::read.table(file, header = FALSE, colClasses = "numeric")
  names(draws) <- c("distance", parameter, paste0("statistic", seq_len(ncol(draws) - 2)))
  draws
}

# The codominant conversion (-convert): the Fis used per population in "#Population p: F"
# lines, then band-count blocks whose locus lines are "locus n 2 band null".
read_codominant <- function(file) {
  lines <- readLines(file, warn = FALSE)
  used <- grep("^#Population [0-9]+: ", lines, value = TRUE)
  population <- cumsum(grepl("^\\[pop\\]=", lines))
  counts <- grepl("^ *[0-9]+ +[0-9]+ +2 +[0-9]+ +[0-9]+ *$", lines)
  fields <- do.call(rbind, lapply(strsplit(trimws(lines[counts]), " +"), as.integer))
  list(fis = as.numeric(sub("^#Population [0-9]+: ", "", used)),
       counts = data.frame(population = population[counts], locus = fields[, 1],
                           n = fields[, 2], band = fields[, 4], null = fields[, 5]))
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
