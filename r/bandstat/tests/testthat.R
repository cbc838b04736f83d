library(testthat)
library(bandstat)

test_check("bandstat")
