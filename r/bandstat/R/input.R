# Turning the data objects of R into the program's table layout: a header (individual,
# population, locus names), then one row per individual of 0, 1 or NA.

# The individuals, their populations and their scores of one data object, in the row
# order the program will number the populations by (order of first appearance).
band_matrix <- function(x, pops) {
  if (inherits(x, "genind")) return(band_matrix_genind(x, pops))
  if (inherits(x, "genlight")) return(band_matrix_genlight(x, pops))
  if (is.data.frame(x)) return(band_matrix_data_frame(x, pops))
  stop("x must be a file name, a data frame, or a genind or genlight object of ",
       "presence/absence data, not an object of class \"", class(x)[1], "\".",
       call. = FALSE)
}

band_matrix_genind <- function(x, pops) {
  need_adegenet()
  if (!identical(x@type, "PA")) {
    stop("x is a genind object of type \"", x@type, "\"; bandstat needs presence/absence ",
         "data (type = \"PA\", as read with df2genind(..., type = \"PA\")).", call. = FALSE)
  }
  scores <- adegenet::tab(x)
  list(ids = adegenet::indNames(x), pops = object_pops(adegenet::pop(x), pops, nrow(scores)),
       scores = checked_scores(scores, adegenet::locNames(x)))
}

band_matrix_genlight <- function(x, pops) {
  need_adegenet()
  scores <- methods::as(x, "matrix")
  loci <- adegenet::locNames(x)
  if (is.null(loci)) loci <- paste0("L", seq_len(ncol(scores)))
  ids <- adegenet::indNames(x)
  if (is.null(ids)) ids <- paste0("I", seq_len(nrow(scores)))
  list(ids = ids, pops = object_pops(adegenet::pop(x), pops, nrow(scores)),
       scores = checked_scores(scores, loci))
}

need_adegenet <- function() {
  if (!requireNamespace("adegenet", quietly = TRUE)) {
    stop("Reading genind and genlight objects needs the adegenet package.", call. = FALSE)
  }
}

# The populations of a genind or genlight: pop(x), unless pops gives one per individual.
object_pops <- function(from_object, pops, count) {
  if (!is.null(pops)) {
    if (length(pops) != count) {
      stop("pops must give the population of every individual: ", count, " values, not ",
           length(pops), ".", call. = FALSE)
    }
    from_object <- pops
  }
  if (is.null(from_object)) {
    stop("x has no populations: set them with pop(x) <- ..., or give pops.", call. = FALSE)
  }
  checked_pops(from_object)
}

# The missing-score codes of the program's table files, so that a data frame read from such
# a file is taken as the program would take the file.
missing_codes <- c("", "-1", "-", "-9", "NA", "?", ".")

band_matrix_data_frame <- function(x, pops) {
  if (is.null(pops)) pops <- 2
  if (length(pops) != 1 || is.na(pops)) {
    stop("pops must name the population column of the data frame (a name or a number).",
         call. = FALSE)
  }
  pop_column <- if (is.character(pops)) match(pops, names(x)) else as.integer(pops)
  if (is.na(pop_column) || pop_column < 1 || pop_column > ncol(x)) {
    stop("The data frame has no column ", deparse(pops), " for the populations.",
         call. = FALSE)
  }
  if (ncol(x) < 3) {
    stop("The data frame needs an id column, a population column and at least one locus.",
         call. = FALSE)
  }
  id_column <- if (pop_column == 1) 2 else 1
  loci <- x[-c(id_column, pop_column)]
  scores <- matrix(NA_real_, nrow(x), ncol(loci))
  for (l in seq_along(loci)) {
    column <- loci[[l]]
    if (is.factor(column)) column <- as.character(column)
    if (is.character(column)) column[trimws(column) %in% missing_codes] <- NA
    values <- suppressWarnings(as.numeric(column))
    # Text that is no number becomes NA here; it must not pass as a missing score.
    if (any(is.na(values) & !is.na(column))) bad_scores(names(loci)[l])
    values[values %in% c(-1, -9)] <- NA
    scores[, l] <- values
  }
  list(ids = as.character(x[[id_column]]), pops = checked_pops(x[[pop_column]]),
       scores = checked_scores(scores, names(loci)))
}

checked_pops <- function(pops) {
  pops <- as.character(pops)
  if (anyNA(pops) || any(!nzchar(pops))) {
    stop("Every individual needs a population; ", sum(is.na(pops) | !nzchar(pops)),
         " have none.", call. = FALSE)
  }
  pops
}

checked_scores <- function(scores, loci) {
  scores <- matrix(as.numeric(scores), nrow = nrow(scores))
  colnames(scores) <- loci
  wrong <- colSums(!is.na(scores) & scores != 0 & scores != 1) > 0
  if (any(wrong)) bad_scores(loci[wrong])
  scores
}

bad_scores <- function(loci) {
  shown <- utils::head(loci, 5)
  stop("Scores must be 0 (no band), 1 (band) or NA (missing); locus ",
       paste0("\"", shown, "\"", collapse = ", "),
       if (length(loci) > length(shown)) sprintf(" and %d more", length(loci) - length(shown)),
       " holds other values.", call. = FALSE)
}

csv_quote <- function(text) paste0("\"", gsub("\"", "\"\"", enc2utf8(text), fixed = TRUE), "\"")

# Writes the table layout as comma-separated UTF-8, names quoted, so that any id, population
# or locus name reaches the program as it is.
write_band_table <- function(data, file) {
  cells <- ifelse(is.na(data$scores), "NA", ifelse(data$scores == 1, "1", "0"))
  cells <- matrix(cells, nrow = nrow(data$scores))
  rows <- paste(csv_quote(data$ids), csv_quote(data$pops),
                apply(cells, 1, paste, collapse = ","), sep = ",")
  header <- paste(csv_quote(c("Individual", "Population", colnames(data$scores))),
                  collapse = ",")
  con <- file(file, open = "wb")
  on.exit(close(con))
  writeLines(c(header, rows), con, useBytes = TRUE)
}
