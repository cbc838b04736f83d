// SPDX-License-Identifier: GPL-3.0-or-later
#include "options/anyoption.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "errors.h"

namespace {

// Grows a table to twice its capacity, filling the new entries with `blank`.
template <typename T>
T* grow(T* old, int old_capacity, T blank) {
  T* bigger = new (std::nothrow) T[old_capacity * 2];
  if (!bigger) return nullptr;
  for (int i = 0; i < old_capacity; ++i) bigger[i] = old[i];
  for (int i = old_capacity; i < old_capacity * 2; ++i) bigger[i] = blank;
  delete[] old;
  return bigger;
}

char* copy_text(const char* s) {
  size_t len = std::strlen(s);
  char* copy = new (std::nothrow) char[len + 1];
  if (copy) std::memcpy(copy, s, len + 1);
  return copy;
}

}  // namespace

AnyOption::AnyOption() { init(10, 10); }
AnyOption::AnyOption(int capacity) { init(capacity, capacity); }
AnyOption::AnyOption(int long_capacity, int char_capacity) { init(long_capacity, char_capacity); }
AnyOption::~AnyOption() {
  if (mem_allocated_) cleanup();
}

void AnyOption::init(int long_capacity, int /*char_capacity*/) {
  max_options_ = long_capacity > 0 ? long_capacity : 10;
  max_usage_lines_ = 3;
  alloc();
}

void AnyOption::alloc() {
  options_ = new (std::nothrow) const char*[max_options_];
  option_type_ = new (std::nothrow) int[max_options_];
  option_index_ = new (std::nothrow) int[max_options_];
  usage_ = new (std::nothrow) const char*[max_usage_lines_];
  if (!options_ || !option_type_ || !option_index_ || !usage_) {
    fail_on_stdout("\nOPTIONS ERROR : Failed allocating memory\nExiting.\n");
  }
  for (int i = 0; i < max_options_; ++i) {
    options_[i] = nullptr;
    option_type_[i] = NONE;
    option_index_[i] = -1;
  }
  for (int i = 0; i < max_usage_lines_; ++i) usage_[i] = nullptr;
  mem_allocated_ = true;
}

void AnyOption::cleanup() {
  delete[] options_;
  delete[] option_type_;
  delete[] option_index_;
  delete[] usage_;
  if (values_allocated_) {
    for (int i = 0; i < value_slots_; ++i) delete[] values_[i];
    delete[] values_;
  }
  delete[] new_argv_;
}

void AnyOption::allocationFailure(const char* what, const char* item) {
  fail_on_stdout("\nOPTIONS ERROR : Failed allocating extra memory \n%s\"%s\"\nExiting.\n\n", what,
                 item);
}

void AnyOption::noPOSIX() { posix_style_ = false; }
bool AnyOption::POSIX() const { return posix_style_; }

void AnyOption::setCommandLongPrefix(const char* prefix) {
  // At most two characters are kept.
  std::strncpy(long_opt_prefix_, prefix, 2);
  long_opt_prefix_[2] = '\0';
}

void AnyOption::addUsage(const char* line) {
  if (usage_lines_ >= max_usage_lines_) {
    const char** bigger = grow(usage_, max_usage_lines_, static_cast<const char*>(nullptr));
    if (!bigger) allocationFailure("While adding the usage/help  : ", line);
    usage_ = bigger;
    max_usage_lines_ *= 2;
  }
  usage_[usage_lines_++] = line;
}

bool AnyOption::growLongTable(const char* name) {
  const char** o = grow(options_, max_options_, static_cast<const char*>(nullptr));
  if (!o) allocationFailure("While adding the option : ", name);
  options_ = o;
  int* t = grow(option_type_, max_options_, static_cast<int>(NONE));
  if (!t) allocationFailure("While adding the option : ", name);
  option_type_ = t;
  int* x = grow(option_index_, max_options_, -1);
  if (!x) allocationFailure("While adding the option : ", name);
  option_index_ = x;
  max_options_ *= 2;
  return true;
}

void AnyOption::addOption(const char* name, Type type) {
  if (option_counter_ >= max_options_) growLongTable(name);
  options_[option_counter_] = name;
  option_type_[option_counter_] = type;
  option_index_[option_counter_] = g_value_counter_;
  ++option_counter_;
  ++g_value_counter_;  // every registration takes one value slot
}

void AnyOption::setOption(const char* name) { addOption(name, COMMAND_OPT); }
void AnyOption::setCommandOption(const char* name) { addOption(name, COMMANDONLY_OPT); }
void AnyOption::setFileOption(const char* name) { addOption(name, FILE_OPT); }
void AnyOption::setFlag(const char* name) { addOption(name, COMMAND_FLAG); }
void AnyOption::setCommandFlag(const char* name) { addOption(name, COMMANDONLY_FLAG); }
void AnyOption::setFileFlag(const char* name) { addOption(name, FILE_FLAG); }

bool AnyOption::allocValues() {
  if (values_allocated_) return true;
  if (g_value_counter_ <= 0) return false;  // nothing registered: nothing to hold
  values_ = new (std::nothrow) char*[g_value_counter_];
  if (!values_) {
    fail_on_stdout("\nOPTIONS ERROR : Failed allocating memory\nExiting.\n");
  }
  for (int i = 0; i < g_value_counter_; ++i) values_[i] = nullptr;
  value_slots_ = g_value_counter_;
  values_allocated_ = true;
  return true;
}

void AnyOption::useCommandArgs(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  command_set_ = true;
  appname_ = argc > 0 ? argv[0] : nullptr;
  if (argc_ > 1) has_options_ = true;
}

void AnyOption::processCommandArgs(int argc, char** argv) {
  useCommandArgs(argc, argv);
  processCommandArgs();
}

void AnyOption::processCommandArgs() {
  if (!allocValues() || !command_set_) return;
  if (max_legal_args_ == 0) max_legal_args_ = argc_;
  delete[] new_argv_;
  new_argv_ = new (std::nothrow) int[max_legal_args_ > 0 ? max_legal_args_ : 1];
  if (!new_argv_) {
    fail_on_stdout("\nOPTIONS ERROR : Failed allocating memory\nExiting.\n");
  }
  new_argc_ = 0;
  unknown_option_ = nullptr;
  option_without_value_ = nullptr;

  const size_t long_len = std::strlen(long_opt_prefix_);
  for (int i = 1; i < argc_; ++i) {
    const char* word = argv_[i];
    int waiting = -1;
    if (long_len > 0 && std::strncmp(word, long_opt_prefix_, long_len) == 0) {
      waiting = parseGNU(word + long_len);
    } else if (word[0] == opt_prefix_char_) {
      // Character clusters are not supported: a single-dash word is a long name too.
      waiting = parseGNU(word + 1);
    } else {
      if (new_argc_ < max_legal_args_) new_argv_[new_argc_++] = i;
      continue;
    }
    if (waiting == UNKNOWN_NAME) {
      if (!unknown_option_) unknown_option_ = word;
    } else if (waiting >= 0) {
      // The option's value is the next word, whatever it looks like; an option that is the
      // last word stays unset.
      if (i + 1 < argc_) {
        setValue(waiting, argv_[i + 1]);
        ++i;
      } else if (!option_without_value_) {
        option_without_value_ = word;
      }
    }
  }
}

int AnyOption::parseGNU(const char* word) {
  const char* eq = std::strchr(word, equal_sign_);
  if (eq && eq != word) {
    size_t len = static_cast<size_t>(eq - word);
    char* name = new char[len + 1];
    std::memcpy(name, word, len);
    name[len] = '\0';
    int m = matchOpt(name, true);
    delete[] name;
    if (m < 0) return UNKNOWN_NAME;
    if (option_type_[m] == COMMAND_OPT || option_type_[m] == COMMANDONLY_OPT)
      setValue(option_index_[m], eq + 1);
    else
      setValue(option_index_[m], "true");  // "-keep=yes" sets the flag; the text is ignored
    return NO_VALUE_WANTED;
  }
  int m = matchOpt(word, true);
  if (m < 0) return UNKNOWN_NAME;  // a lone "-" or "--" too
  if (option_type_[m] == COMMAND_OPT || option_type_[m] == COMMANDONLY_OPT) return option_index_[m];
  setValue(option_index_[m], "true");
  return NO_VALUE_WANTED;
}

int AnyOption::matchOpt(const char* name, bool /*value_wanted*/) const {
  for (int i = 0; i < option_counter_; ++i) {
    int t = option_type_[i];
    if (t != COMMAND_OPT && t != COMMANDONLY_OPT && t != COMMAND_FLAG && t != COMMANDONLY_FLAG)
      continue;
    if (std::strcmp(options_[i], name) == 0) return i;
  }
  return -1;
}

void AnyOption::setValue(int slot, const char* value) {
  if (!allocValues() || slot < 0 || slot >= value_slots_) return;
  char* copy = copy_text(value);
  if (!copy) {
    fail_on_stdout("\nOPTIONS ERROR : Failed allocating memory\nExiting.\n");
  }
  delete[] values_[slot];  // a value given again replaces the earlier one
  values_[slot] = copy;
}

bool AnyOption::hasOptions() const { return has_options_; }

const char* AnyOption::getValue(const char* name) {
  if (!allocValues()) return nullptr;
  for (int i = 0; i < option_counter_; ++i) {
    if (std::strcmp(options_[i], name) == 0)
      return option_index_[i] < value_slots_ ? values_[option_index_[i]] : nullptr;
  }
  return nullptr;
}

bool AnyOption::getFlag(const char* name) {
  const char* v = getValue(name);
  return v != nullptr && std::strcmp(v, "true") == 0;
}

bool AnyOption::getFlag(char) { return false; }  // no character options are ever registered

int AnyOption::getArgc() const { return new_argc_; }

const char* AnyOption::getArgv(int index) const {
  if (index < 0 || index >= new_argc_) return nullptr;
  return argv_[new_argv_[index]];
}

const char* AnyOption::unknownOption() const { return unknown_option_; }
const char* AnyOption::optionWithoutValue() const { return option_without_value_; }

void AnyOption::printUsage() {
  if (!once_) return;
  once_ = false;
  std::printf("\n");
  for (int i = 0; i < usage_lines_; ++i) std::printf("%s\n", usage_[i]);
  std::printf("\n");
}
