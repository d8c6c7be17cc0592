// Runs the real programs that make the protected files the checks judge
// (qpdf, zip, 7z) and the independent reader that checks our compound files
// (python3 with olefile).
#pragma once

#include <string>
#include <vector>

namespace pelorus::test {

// Whether an executable of that name is on PATH (or is that absolute path).
bool haveTool(const std::string& name);

// Runs argv[0] with the other arguments, standard input from /dev/null;
// standard output and error go to output when given. The exit status, or
// -1 when the program could not be run.
int runTool(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& directory = {});

} // namespace pelorus::test
