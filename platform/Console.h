#pragma once
// The console library: the process's standard output.
#include "String.h"

// Standard output of the process.
class StdIO {
  public:
    class Printer {
      public:
        Printer& operator<<(const char* text);
        Printer& operator<<(const Ref<String>& text);
        Printer& endl();
    };
    static Printer& stdOutPrinter();
    // One line for the person running the program, beside what standard output carries (on the
    // host: standard error).
    static void note(const Ref<String>& line);
};
