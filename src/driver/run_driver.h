// The body of one job after the input reader has returned: pilot run, thresholds,
// production run, hand-over to the posterior analysis, clean-up and timing.
#pragma once

void run_job();
