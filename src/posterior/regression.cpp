#include "posterior/regression.h"

// Placeholder until the posterior analysis lands.
void perform_regression() {}
void write_regression_outputs() {}
