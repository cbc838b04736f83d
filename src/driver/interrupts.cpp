// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/output_file.h"
#include "driver/checkpoint.h"
#include "driver/run_record.h"
#include "errors.h"

namespace {

[[noreturn]] void end_on_signal(int signal_number) {
  // The workers are stopped by the end of the process itself: they hold nothing that must
  // be released, and the files they were writing are the incomplete ones removed here.
  // Holding the file registry from here on also stops any other thread from creating or
  // completing a file behind this clean-up.
  // A job in progress keeps its state first: the checkpoint, and the accepted-draw files it
  // needs, which are then no longer among the incomplete files.
  std::string program = "bandstat";
  const std::string checkpoint = checkpoint_on_signal(&program);
  const std::vector<std::string> removed = remove_incomplete_files_at_exit();
  std::fflush(stdout);
  // On a terminal the message starts on a line of its own, after the progress gauge.
  const std::string line = (isatty(STDERR_FILENO) ? "\n" : "") +
                           interrupt_message(signal_number, removed, checkpoint, program) + "\n";
  std::fputs(line.c_str(), stderr);
  end_process(128 + signal_number);
}

}  // namespace

std::string interrupt_message(int signal_number, const std::vector<std::string>& removed,
                              const std::string& checkpoint, const std::string& program) {
  std::string line = signal_number == SIGINT ? "Interrupted (SIGINT)"
                     : signal_number == SIGTERM
                         ? "Terminated (SIGTERM)"
                         : "Stopped by signal " + std::to_string(signal_number);
  if (!checkpoint.empty()) {
    line += "; checkpoint written to " + checkpoint + "; resume with: " + program + " -resume " +
            checkpoint;
    if (removed.empty()) return line;
  }
  if (removed.empty()) return line + "; no incomplete file to remove";
  line += "; removed the incomplete file" + std::string(removed.size() > 1 ? "s" : "");
  for (size_t i = 0; i < removed.size(); ++i) line += (i ? ", " : " ") + removed[i];
  return line;
}

void install_interrupt_handling() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&set, sig);
  }
  if (sigisemptyset(&set) || pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  std::thread([set] {
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    end_on_signal(sig);
  }).detach();
}
