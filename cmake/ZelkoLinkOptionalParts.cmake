# Parts of the build that need a package the bare machine may lack. Each is
# built when its package is found and left out cleanly when it is not; the
# configure run ends with one summary of both, naming the Debian package that
# would add each missing part. ZELKOLINK_REQUIRE_ALL=ON (the full test run
# and the release build) turns a missing part into a configure error, so a
# lost dependency can never pass as fewer tests.
include_guard(GLOBAL)

option(ZELKOLINK_REQUIRE_ALL "Fail at configure when an optional part cannot be built" OFF)

# zelkolink_optional_part(<name> <found> <debian packages...>)
# Records whether the part <name> is built. <found> is a true or false value.
function(zelkolink_optional_part name found)
  if(found)
    set_property(GLOBAL APPEND PROPERTY ZELKOLINK_PARTS_BUILT "${name}")
  else()
    list(JOIN ARGN " " packages)
    set_property(GLOBAL APPEND PROPERTY ZELKOLINK_PARTS_MISSING "${name}|${packages}")
  endif()
endfunction()

# Prints the summary; with ZELKOLINK_REQUIRE_ALL, fails when a part is missing.
function(zelkolink_report_parts)
  get_property(built GLOBAL PROPERTY ZELKOLINK_PARTS_BUILT)
  get_property(missing GLOBAL PROPERTY ZELKOLINK_PARTS_MISSING)
  list(JOIN built ", " built_text)
  message(STATUS "ZelkoLink builds: ${built_text}")
  set(packages "")
  foreach(entry IN LISTS missing)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 part)
    list(GET fields 1 part_packages)
    message(STATUS "ZelkoLink leaves out: ${part} (apt-get install ${part_packages})")
    list(APPEND packages ${part_packages})
  endforeach()
  if(missing AND ZELKOLINK_REQUIRE_ALL)
    list(REMOVE_DUPLICATES packages)
    list(JOIN packages " " packages)
    message(FATAL_ERROR "ZELKOLINK_REQUIRE_ALL is on and parts are missing: install ${packages} "
      "(tests/install_dependencies.sh does), then configure again")
  endif()
endfunction()
