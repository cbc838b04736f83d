# Discovery order and the version check, with stand-in programs (no real run needed).

test_that("the option, then BANDSTAT_PROGRAM, then the PATH name the program", {
  dir <- local_temp_dir()
  by_option <- stub_program(file.path(dir, "a"), "bandstat 1.2.0")
  by_env <- stub_program(file.path(dir, "b"), "bandstat 1.3.1")
  on_path <- stub_program(file.path(dir, "c"), "bandstat 2.0.0")
  old_path <- Sys.getenv("PATH")
  on.exit(Sys.setenv(PATH = old_path), add = TRUE)
  Sys.setenv(PATH = paste(dirname(on_path), old_path, sep = .Platform$path.sep))

  local_settings(option = by_option, env = by_env)
  expect_equal(bandstat_program(), normalizePath(by_option))
  local_settings(option = NULL, env = by_env)
  expect_equal(bandstat_program(), normalizePath(by_env))
  expect_equal(bandstat_version(bandstat_program()), package_version("1.3.1"))
  local_settings(option = NULL, env = "")
  expect_equal(bandstat_program(), normalizePath(on_path))
})

test_that("an unusable program is an error that says how to install one", {
  dir <- local_temp_dir()
  cases <- list(
    list(path = stub_program(file.path(dir, "old"), "bandstat 1.1.9"),
         message = "is bandstat 1.1.9; this package needs 1.2.0 or later"),
    list(path = stub_program(file.path(dir, "mute"), NULL),
         message = "does not report its version"),
    list(path = file.path(dir, "absent"), message = "not a program that can be run"),
    # A folder named as the program, as a path cut one level short would be.
    list(path = dir, message = "not a program that can be run"))
  for (case in cases) {
    local_settings(option = case$path, env = "")
    expect_error(bandstat_program(), case$message, fixed = TRUE)
    expect_error(bandstat_program(), "scripts/setup.sh", fixed = TRUE)
    expect_identical(bandstat_program(must_work = FALSE), "")
  }
})

test_that("no program anywhere is an error that says where to set one", {
  local_settings(option = NULL, env = "")
  old_path <- Sys.getenv("PATH")
  on.exit(Sys.setenv(PATH = old_path), add = TRUE)
  Sys.setenv(PATH = local_temp_dir())
  expect_error(bandstat_program(), "BANDSTAT_PROGRAM", fixed = TRUE)
  expect_identical(bandstat_program(must_work = FALSE), "")
})
