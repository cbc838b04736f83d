# Turning R objects into the table the program reads; these need no program.

bands <- data.frame(id = c("a", "b", "c"), pop = c("N", "N", "S"),
                    L1 = c(1, 0, NA), L2 = c(TRUE, FALSE, TRUE))

test_that("a data frame gives ids, populations and 0/1/NA scores wherever its columns are", {
  cases <- list(
    list(x = bands, pops = NULL),
    list(x = bands, pops = "pop"),
    # Population column first: the id column is then the first of the others.
    list(x = bands[c(2, 1, 3, 4)], pops = 1),
    list(x = transform(bands, L1 = factor(L1)), pops = NULL),
    list(x = transform(bands, L1 = as.character(L1)), pops = 2),
    # The missing codes of the program's table files, as read.csv leaves them.
    list(x = transform(bands, L1 = c("1", "0", "?")), pops = NULL),
    list(x = transform(bands, L1 = c(1, 0, -9)), pops = NULL))
  for (case in cases) {
    m <- bandstat:::band_matrix(case$x, case$pops)
    expect_equal(m$ids, c("a", "b", "c"))
    expect_equal(m$pops, c("N", "N", "S"))
    expect_equal(unname(m$scores), cbind(c(1, 0, NA), c(1, 0, 1)))
    expect_equal(colnames(m$scores), c("L1", "L2"))
  }
})

test_that("scores other than 0, 1 and NA and missing populations are refused by name", {
  cases <- list(
    list(x = transform(bands, L2 = c(0, 2, 1)), message = "locus \"L2\" holds other values"),
    list(x = transform(bands, L1 = c("1", "x", "0")), message = "locus \"L1\" holds"),
    list(x = transform(bands, pop = c("N", NA, "S")), message = "1 have none"),
    list(x = bands[1:2], message = "at least one locus"))
  for (case in cases) {
    expect_error(bandstat:::band_matrix(case$x, NULL), case$message, fixed = TRUE)
  }
  expect_error(bandstat:::band_matrix(bands, "region"), "no column \"region\"", fixed = TRUE)
  expect_error(bandstat:::band_matrix(list(1), NULL), "not an object of class \"list\"",
               fixed = TRUE)
})

test_that("genind and genlight objects must hold presence/absence data with populations", {
  skip_if_not_installed("adegenet")
  scores <- matrix(c(1, 0, 1, 1, NA, 0), 3, dimnames = list(c("a", "b", "c"), c("L1", "L2")))
  pa <- adegenet::genind(scores, pop = factor(c("N", "N", "S")), type = "PA")
  m <- bandstat:::band_matrix(pa, NULL)
  expect_equal(m$pops, c("N", "N", "S"))
  expect_equal(unname(m$scores), unname(scores))
  expect_equal(bandstat:::band_matrix(pa, c("x", "y", "y"))$pops, c("x", "y", "y"))
  expect_error(bandstat:::band_matrix(pa, c("x", "y")), "3 values, not 2", fixed = TRUE)

  unplaced <- adegenet::genind(scores, type = "PA")
  expect_error(bandstat:::band_matrix(unplaced, NULL), "x has no populations", fixed = TRUE)
  codominant <- adegenet::df2genind(data.frame(L1 = c("11", "12", "22")), ncode = 1,
                                    pop = c("N", "N", "S"))
  expect_error(bandstat:::band_matrix(codominant, NULL), "type \"codom\"", fixed = TRUE)

  snps <- methods::new("genlight", list(a = c(0, 2), b = c(1, 1)), ploidy = 2)
  adegenet::pop(snps) <- c("N", "S")
  expect_error(bandstat:::band_matrix(snps, NULL), "holds other values", fixed = TRUE)
})

test_that("the table quotes every name, so that commas and quotes in names survive", {
  file <- tempfile(fileext = ".csv")
  on.exit(unlink(file))
  data <- list(ids = c("Smith, J.", "a \"b\""), pops = c("N", "S"),
               scores = matrix(c(1, NA), 2, dimnames = list(NULL, "E3,5")))
  bandstat:::write_band_table(data, file)
  back <- utils::read.csv(file, check.names = FALSE)
  expect_equal(names(back), c("Individual", "Population", "E3,5"))
  expect_equal(back$Individual, data$ids)
  expect_equal(back[[3]], c(1, NA))
})
