# Finding the program and checking that it is recent enough.

# The oldest program this package can drive: the first one that reports its version, and
# whose outputs have the layout the readers of this package expect.
minimum_version <- "1.2.0"

# Versions already checked, by program path and modification time, so that a session does
# not start the program once more for every fit.
checked_versions <- new.env(parent = emptyenv())

#' Find the bandstat program
#'
#' Looks for the program in this order: the option \code{bandstat.program}, the
#' environment variable \code{BANDSTAT_PROGRAM}, then \code{bandstat} on the \code{PATH}.
#' The first place that names a program decides: a program named there that does not
#' exist, cannot be run, or is older than version 1.2.0 is an error, not a reason to look
#' further, so that a wrong setting does not go unnoticed.
#'
#' The program is built from the bandstat sources: \code{bash scripts/setup.sh} in the
#' source tree builds \code{build/bandstat}.
#'
#' @param must_work If \code{TRUE} (the default), a missing or unusable program is an error
#'   that says how to install it and tell R where it is. If \code{FALSE}, the empty string
#'   is returned instead, which suits code that should run only when the program is there.
#' @return The path of the program, as a string (or \code{""}, see \code{must_work}).
#' @seealso \code{\link{bandstat_version}}, \code{\link{bandstat}}
#' @examples
#' prog <- bandstat_program(must_work = FALSE)
#' if (nzchar(prog)) print(bandstat_version(prog))
#' @export
bandstat_program <- function(must_work = TRUE) {
  found <- tryCatch(locate_program(), error = function(e) e)
  if (inherits(found, "error")) {
    if (must_work) stop(found)
    return("")
  }
  found
}

locate_program <- function() {
  option <- getOption("bandstat.program", "")
  environment <- Sys.getenv("BANDSTAT_PROGRAM")
  on_path <- unname(Sys.which("bandstat"))
  if (length(option) == 1 && !is.na(option) && nzchar(option)) {
    source <- "the option bandstat.program"
    path <- option
  } else if (nzchar(environment)) {
    source <- "the environment variable BANDSTAT_PROGRAM"
    path <- environment
  } else if (nzchar(on_path)) {
    source <- "the PATH"
    path <- on_path
  } else {
    stop(not_found_message(), call. = FALSE)
  }
  path <- path.expand(path)
  if (!file.exists(path) || dir.exists(path) || file.access(path, 1) != 0) {
    stop(sprintf("%s names \"%s\", which is not a program that can be run.\n%s",
                 source, path, install_hint()), call. = FALSE)
  }
  path <- normalizePath(path)
  bandstat_version(path)
  path
}

not_found_message <- function() {
  paste0("The bandstat program was not found: the option bandstat.program and the ",
         "environment variable BANDSTAT_PROGRAM are not set, and there is no bandstat ",
         "on the PATH.\n", install_hint())
}

install_hint <- function() {
  paste0("Build it from the bandstat sources with `bash scripts/setup.sh` (it installs ",
         "what the build needs and makes build/bandstat), then tell R where it is: ",
         "options(bandstat.program = \"/path/to/build/bandstat\"), or set ",
         "BANDSTAT_PROGRAM, or put the program on the PATH. Version ", minimum_version,
         " or later is needed.")
}

#' The version of the bandstat program
#'
#' Runs \code{program -version} and checks that the program is version 1.2.0 or later.
#' The answer is remembered for the session (until the program file changes).
#'
#' @param program The path of the program.
#' @return The version, as a \code{\link[base]{package_version}}.
#' @examples
#' prog <- bandstat_program(must_work = FALSE)
#' if (nzchar(prog)) bandstat_version(prog)
#' @export
bandstat_version <- function(program = bandstat_program()) {
  key <- paste(program, file.mtime(program))
  if (!is.null(checked_versions[[key]])) return(checked_versions[[key]])
  answer <- tryCatch(
    processx::run(program, "-version", error_on_status = FALSE, timeout = 30),
    error = function(e) stop(sprintf("Could not run \"%s -version\": %s", program,
                                     conditionMessage(e)), call. = FALSE))
  line <- strsplit(answer$stdout, "\n", fixed = TRUE)[[1]]
  line <- line[grepl("^bandstat [0-9]+\\.[0-9]+\\.[0-9]+$", line)]
  if (answer$status != 0 || length(line) != 1) {
    stop(sprintf(paste0("\"%s\" does not report its version (\"-version\" gave status %d), ",
                        "so it is older than %s or not the bandstat program.\n%s"),
                 program, answer$status, minimum_version, install_hint()), call. = FALSE)
  }
  version <- package_version(sub("^bandstat ", "", line))
  if (version < minimum_version) {
    stop(sprintf("\"%s\" is bandstat %s; this package needs %s or later.\n%s", program,
                 version, minimum_version, install_hint()), call. = FALSE)
  }
  checked_versions[[key]] <- version
  version
}
