# What `cmake --install` puts where, beside the programs (installed next to their
# targets), and the Debian package CPack builds from it (bash scripts/package.sh).
# The package is named tessaly-panel and carries the project's version as it is.

set(TESSALY_PACKAGE_NAME tessaly-panel)
set(TESSALY_PACKAGE_MAINTAINER "Tessaly Panel developers <tessaly-panel@example.org>"
    CACHE STRING "Maintainer field of the Debian package and contact of its copyright file")
set(TESSALY_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TESSALY_PACKAGE_NAME})

# The Wireshark dissector is data: the README tells how to enable it.
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/tessaly.lua
        DESTINATION ${CMAKE_INSTALL_DATADIR}/${TESSALY_PACKAGE_NAME}/wireshark)
# So are the Prometheus alert rules over the exporter's metrics (rule_files names them).
install(FILES ${PROJECT_SOURCE_DIR}/tools/prometheus/tessaly-rules.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/${TESSALY_PACKAGE_NAME}/prometheus)

# tessaly-exporter as a systemd service, and its configuration: a commented example
# that the package marks as a conffile (cmake/debian/conffiles), so that dpkg keeps an
# administrator's edits. The unit folder is systemd's own (pkg-config), an absolute
# path like /etc.
set(TESSALY_SYSTEMDUNITDIR /lib/systemd/system)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_get_variable(systemd_unit_dir systemd systemdsystemunitdir)
  if(systemd_unit_dir MATCHES "^/")
    set(TESSALY_SYSTEMDUNITDIR ${systemd_unit_dir})
  endif()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/exporter/tessaly-exporter.service DESTINATION ${TESSALY_SYSTEMDUNITDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/exporter/exporter.yml DESTINATION /etc/tessaly)

# The bash completion of the programs, one script under each program's name in
# bash-completion's folder (it loads a command's completion from the file named
# after it). The folder is bash-completion's own (pkg-config), under the prefix.
set(TESSALY_COMPLETIONSDIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_get_variable(bash_completion_dir bash-completion completionsdir)
  pkg_get_variable(bash_completion_prefix bash-completion prefix)
  if(bash_completion_dir AND bash_completion_prefix)
    string(FIND "${bash_completion_dir}" "${bash_completion_prefix}/" at)
    if(at EQUAL 0)
      string(LENGTH "${bash_completion_prefix}/" skip)
      string(SUBSTRING "${bash_completion_dir}" ${skip} -1 TESSALY_COMPLETIONSDIR)
    endif()
  endif()
endif()
foreach(program tessaly-panel tessaly-cli tessaly-emulator tessaly-exporter)
  install(FILES ${PROJECT_SOURCE_DIR}/data/completion/tessaly DESTINATION ${TESSALY_COMPLETIONSDIR} RENAME ${program})
endforeach()

# README, copyright and changelog.gz in the package's documentation folder. The
# changelog's date is the last commit's (or SOURCE_DATE_EPOCH's) so that two builds
# of one tree give the same file.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_result ERROR_QUIET)
    if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
    endif()
  endif()
endif()
string(TIMESTAMP TESSALY_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(doc_dir ${CMAKE_CURRENT_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${doc_dir}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${doc_dir}/copyright @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${doc_dir}/changelog.gz
                   COMMAND ${GZIP_PROGRAM} -9nkf ${doc_dir}/changelog
                   DEPENDS ${doc_dir}/changelog
                   COMMENT "Compressing the changelog" VERBATIM)
add_custom_target(tessaly_changelog ALL DEPENDS ${doc_dir}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${doc_dir}/copyright ${doc_dir}/changelog.gz
        DESTINATION ${TESSALY_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TESSALY_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessaly Panel developers")
set(CPACK_PACKAGE_CONTACT ${TESSALY_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control and test panel for an ASI transport-stream remultiplexer board")
set(CPACK_PACKAGE_DESCRIPTION "\
Tessaly Panel talks UDP to the remultiplexer board's Ethernet controller
(DDToIP or CW-Net framing). It queries the board's status, sends its
housekeeping and configuration instructions, programs the output clock,
the multiplexer and PID filters, the SDRAM sectors and the PSI inserter,
plots the PCR corrector and runs the manufacturer test.
.
The package also holds tessaly-cli, the command-line client for scripts
and production lines, tessaly-emulator, a board emulator that answers as
controller and board do, a Wireshark dissector for the traffic, and
tessaly-exporter, which serves the status of many boards to Prometheus
(with a systemd service, installed disabled, and alert rules).")
set(CPACK_DEBIAN_PACKAGE_NAME ${TESSALY_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TESSALY_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tshark | wireshark")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The conffile list, and maintainer scripts that keep the exporter's service as
# debhelper would for a unit installed disabled: links recorded (and removed on
# purge), systemd reloaded, a running service restarted on upgrade and stopped on
# removal; nothing that needs systemd where it is not running.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/conffiles ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
    ${PROJECT_SOURCE_DIR}/cmake/debian/prerm ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
include(CPack)
