#include "data/codominant.h"

// Placeholder until the posterior analysis lands.
int round2(double x) { return x > 0 ? static_cast<int>(x + 0.5) : static_cast<int>(x - 0.5); }
void write_codominant() {}
