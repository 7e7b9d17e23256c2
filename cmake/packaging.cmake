# The Debian package. `cpack -G DEB` in the build folder (or scripts/package.sh) makes
# ostrel_<version>-<revision>_<architecture>.deb: the program folder that the install rules
# lay out, at /opt/ostrel, plus the desktop entry, the icon and the AppStream metainfo. The
# maintainer scripts (packaging/debian) share the folder with the group "ostrel".

set(OSTREL_PACKAGE_PREFIX /opt/ostrel)
set(OSTREL_HOMEPAGE "https://ostrel.org/" CACHE STRING
  "The project's web address, with a final slash (the package's Homepage; the metainfo's screenshot lies below it)")
set(OSTREL_PACKAGE_MAINTAINER "The Ostrel developers" CACHE STRING
  "The Maintainer field of the Debian package")

set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)
set(packaging_src ${CMAKE_SOURCE_DIR}/packaging)

# The installed file names of the programs, as the maintainer scripts name them.
set(OSTREL_PACKAGE_PROGRAMS "")
foreach(program IN LISTS OSTREL_PROGRAMS)
  get_target_property(name ${program} OUTPUT_NAME)
  if(NOT name)
    set(name ${program})
  endif()
  list(APPEND OSTREL_PACKAGE_PROGRAMS ${name})
endforeach()

# Desktop integration lies outside the program folder, so only the package installs it: a
# plain `cmake --install` never writes to /usr.
function(ostrel_install_desktop_file file destination)
  install(FILES ${file} DESTINATION ${destination} COMPONENT desktop EXCLUDE_FROM_ALL)
endfunction()
configure_file(${packaging_src}/ostrel.metainfo.xml.in
  ${packaging_dir}/org.ostrel.Ostrel.metainfo.xml @ONLY)
ostrel_install_desktop_file(${packaging_src}/ostrel.desktop /usr/share/applications)
ostrel_install_desktop_file(${packaging_dir}/org.ostrel.Ostrel.metainfo.xml /usr/share/metainfo)
ostrel_install_desktop_file(${packaging_src}/ostrel.svg /usr/share/icons/hicolor/scalable/apps)
foreach(size IN ITEMS 48 256)
  ostrel_install_desktop_file(${packaging_src}/icons/${size}x${size}/ostrel.png
    /usr/share/icons/hicolor/${size}x${size}/apps)
endforeach()
# The programs can also be started by name from a terminal.
file(MAKE_DIRECTORY ${packaging_dir}/bin)
foreach(name IN LISTS OSTREL_PACKAGE_PROGRAMS)
  file(CREATE_LINK ${OSTREL_PACKAGE_PREFIX}/${name} ${packaging_dir}/bin/${name} SYMBOLIC)
  ostrel_install_desktop_file(${packaging_dir}/bin/${name} /usr/bin)
endforeach()

list(JOIN OSTREL_PACKAGE_PROGRAMS " " OSTREL_PACKAGE_PROGRAMS)
foreach(control IN ITEMS postinst postrm conffiles)
  configure_file(${packaging_src}/debian/${control}.in ${packaging_dir}/debian/${control} @ONLY)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${OSTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop tool for testing equipment that talks UDP")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Ostrel loads up to 2048 bytes from a file into a hexadecimal grid, lets the"
  "operator change single bytes, and sends them as one UDP datagram to a device:"
  "after an ICMP reachability check, with an answer time-out and retransmissions,"
  "once or periodically. Answers show up in a second grid; every step goes to a"
  "rotating operation log. The user interface is Japanese."
  "."
  "The program folder is /opt/ostrel. The members of the group ostrel share its"
  "settings and its log."
  "."
  "The programs hold no capability. The reachability check runs the system's"
  "ping for each check, a few milliseconds. An administrator who lets the"
  "group open ICMP datagram sockets (sysctl net.ipv4.ping_group_range, for"
  "example to the group ostrel's ID twice) makes each check faster: every"
  "process of that group can then send and receive ICMP echo messages itself,"
  "as ping can for everyone.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${OSTREL_PACKAGE_PREFIX})
# The program folder (the rules without a component) and the desktop integration.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/"
  "${CMAKE_BINARY_DIR};${PROJECT_NAME};desktop;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OSTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${OSTREL_HOMEPAGE}")
# The libraries from dpkg-shlibdeps; the Japanese font the windows ask for; ping for the
# reachability check; groupadd for the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, iputils-ping, passwd, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${packaging_dir}/debian/postinst ${packaging_dir}/debian/postrm ${packaging_dir}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
