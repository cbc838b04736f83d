// SPDX-License-Identifier: GPL-3.0-or-later
// A small command-line option parser. Options are registered by name (with or without a
// value), usage lines are registered for printing, and after processCommandArgs the values,
// flags and the plain words of the command line are asked for by name or position.
//
// The program uses it in single-dash long-name mode (noPOSIX): "-nfis 15" names the whole
// option "nfis". Single-character options, clusters and resource files are not supported;
// getFlag(char) stays and answers false.
#pragma once

class AnyOption {
 public:
  AnyOption();
  explicit AnyOption(int capacity);
  AnyOption(int long_capacity, int char_capacity);
  ~AnyOption();
  AnyOption(const AnyOption&) = delete;
  AnyOption& operator=(const AnyOption&) = delete;

  void noPOSIX();
  bool POSIX() const;
  void setCommandLongPrefix(const char* prefix);

  void addUsage(const char* line);

  void setOption(const char* name);         // value option, command line
  void setCommandOption(const char* name);  // value option, command line
  void setFileOption(const char* name);     // resource file only: never matched here
  void setFlag(const char* name);           // flag, command line
  void setCommandFlag(const char* name);    // flag, command line
  void setFileFlag(const char* name);       // resource file only: never matched here

  void processCommandArgs(int argc, char** argv);
  void useCommandArgs(int argc, char** argv);

  bool hasOptions() const;
  const char* getValue(const char* name);
  bool getFlag(const char* name);
  bool getFlag(char option);
  int getArgc() const;
  const char* getArgv(int index) const;
  // The first word of the command line that looks like an option ("-x", "--x", "-x=v", a
  // lone "-" or "--") but names none registered, as typed; null when there is none.
  const char* unknownOption() const;
  // The first value option that is the last word and so has no value, as typed; null when
  // there is none.
  const char* optionWithoutValue() const;

  void printUsage();

 private:
  enum Type {
    NONE = 0,
    COMMAND_OPT = 1,
    COMMANDONLY_OPT = 2,
    FILE_OPT = 3,
    COMMAND_FLAG = 4,
    COMMANDONLY_FLAG = 5,
    FILE_FLAG = 6
  };

  void init(int long_capacity, int char_capacity);
  void alloc();
  void cleanup();
  void addOption(const char* name, Type type);
  bool growLongTable(const char* name);
  bool allocValues();
  void processCommandArgs();
  // What parseGNU found besides the value slot of an option waiting for its value.
  enum { NO_VALUE_WANTED = -1, UNKNOWN_NAME = -2 };
  // Parses one long-option word (prefix already removed). Returns the value slot of an
  // option that waits for its value in the next word, NO_VALUE_WANTED, or UNKNOWN_NAME.
  int parseGNU(const char* word);
  int matchOpt(const char* name, bool value_wanted) const;
  void setValue(int slot, const char* value);
  [[noreturn]] void allocationFailure(const char* what, const char* item);

  int argc_ = 0;
  char** argv_ = nullptr;
  const char* appname_ = nullptr;

  int* new_argv_ = nullptr;  // positions of the extra (non-option) arguments
  int new_argc_ = 0;
  int max_legal_args_ = 0;
  const char* unknown_option_ = nullptr;
  const char* option_without_value_ = nullptr;

  int max_options_ = 0;
  const char** options_ = nullptr;
  int* option_type_ = nullptr;
  int* option_index_ = nullptr;
  int option_counter_ = 0;

  char** values_ = nullptr;
  int g_value_counter_ = 0;
  // Slots in values_: the registrations made before the first value was stored. A name
  // registered later has no slot and is never given a value.
  int value_slots_ = 0;

  int max_usage_lines_ = 0;
  const char** usage_ = nullptr;
  int usage_lines_ = 0;

  bool command_set_ = false;
  bool mem_allocated_ = false;
  bool posix_style_ = true;
  bool values_allocated_ = false;
  bool once_ = true;  // the usage has not been printed yet
  bool has_options_ = false;

  char opt_prefix_char_ = '-';
  char long_opt_prefix_[3] = {'-', '-', '\0'};
  char equal_sign_ = '=';
};
