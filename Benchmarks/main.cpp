#include "Support/Comparison.hpp"

int main(int argc, char** argv) { return bench::runAndReport(argc, argv); }
