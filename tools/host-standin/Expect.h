#pragma once
// The stand-in's verdicts: every check prints its outcome; one failure fails
// the run.

#include <iostream>
#include <string>

namespace standin {

inline int failures = 0;

inline void expect(bool condition, const std::string& what) {
    std::cout << (condition ? "[standin] ok: " : "[standin] FAILED: ") << what << std::endl;
    if (!condition) ++failures;
}

}  // namespace standin
