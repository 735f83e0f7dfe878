// libfuzzer_math.cpp: the natural logarithm libFuzzer calls, under a name of its own.
//
// The plug-in exports its logger pointer as the plain symbol "log". In a fuzz target everything
// is linked into one executable, so libFuzzer's call of the math function log would bind to that
// pointer and jump into data. The fuzz build therefore links a copy of libFuzzer in which that
// one reference is renamed to kel2cifs_libfuzzer_log (fuzz/CMakeLists.txt), defined here without
// naming log itself.
#include <cmath>
#include <numbers>

extern "C" double kel2cifs_libfuzzer_log(double x) {
    return std::log2(x) * std::numbers::ln2;
}
