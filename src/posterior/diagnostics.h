// Posterior diagnostics: how far the adjusted estimates can be trusted.
#pragma once

// Writes odir + file_prefix + "_diagnostics.txt" and warns on standard error for every
// population and parameter whose adjusted estimate is not to be trusted.
void write_diagnostics();
