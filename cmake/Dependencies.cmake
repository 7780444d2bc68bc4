# Every dependency comes from a Debian package (see scripts/install-dependencies).
find_package(PkgConfig REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
find_package(nlohmann_json 3 REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
