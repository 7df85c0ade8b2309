# The private MariaDB server of a build tree (scripts/mariadb.sh), as the
# ctest fixture "mariadb".  tests/db registers the fixture's start and stop;
# tests/CMakeLists.txt includes this file once for every test folder, whose
# tests use it through cmake/ZvTest.cmake:
#
#   zv_add_test(my_test COMMAND my_test MARIADB)   # the fixture + environment
#   zv_add_gtest(my_tests QT SOURCES ... FIXTURES mariadb)
#                          # the fixture; the Qt entry point sets the
#                          # environment below when it is not set
#
# A test then finds in the folder $TARNMON_DB_DIR:
#   syscfg.ini  for the shared database "tarnmon" (schema and sample mapping
#               loaded); copy it into the test's own working directory
#   db.env      DB_HOST DB_PORT DB_NAME DB_USER DB_PASSWORD DB_SOCKET
# and should run, to get a database of its own that nobody else changes:
#   bash $TARNMON_MARIADB_SH createdb $TARNMON_DB_DIR <name> <outdir>
# which (re)creates database <name> with the schema and sample mapping and
# writes <outdir>/syscfg.ini for it.  Names: letters, digits and "_"; use one
# per test so that tests running in parallel stay apart.
#
# The fixture tests carry the label "db".  The QMYSQL driver and the MySQL
# client library run clean under AddressSanitizer and LeakSanitizer, so
# database tests need no "no_asan" label (a connection that is never closed
# does show up as a leak there).
include_guard(GLOBAL)

set(ZV_MARIADB_DIR ${CMAKE_BINARY_DIR}/test-mariadb)
set(ZV_MARIADB_SH ${CMAKE_SOURCE_DIR}/scripts/mariadb.sh)
set(ZV_MARIADB_ENVIRONMENT
    "TARNMON_DB_DIR=${ZV_MARIADB_DIR};TARNMON_MARIADB_SH=${ZV_MARIADB_SH};QT_QPA_PLATFORM=offscreen")
