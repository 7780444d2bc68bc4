#include "PrivilegedUpdateHelperMain.hpp"

int main() { privilegedhelper::PrivilegedUpdateHelperMain::run(); }
