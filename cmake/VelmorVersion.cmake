# The one version of a build: VELMOR_VERSION when given, else the project version. It reaches the
# version resources of velmor.exe and velmorctl.exe, the agent's first trace line, velmorctl
# --version and the installer's product version.

# velmor_check_version(<version>): fails the configure step unless the version is N.N.N or N.N.N.N
# with numbers a version resource can hold (0 to 65535).
function(velmor_check_version version)
  if(NOT version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+(\\.[0-9]+)?$")
    message(FATAL_ERROR "VELMOR_VERSION \"${version}\" is not N.N.N or N.N.N.N")
  endif()
  string(REPLACE "." ";" parts "${version}")
  foreach(part IN LISTS parts)
    string(LENGTH "${part}" digits)
    if(digits GREATER 5 OR part GREATER 65535)
      message(FATAL_ERROR "VELMOR_VERSION \"${version}\": each number must be 65535 at most")
    endif()
  endforeach()
endfunction()

# velmor_version_header(<folder> <version>): writes <folder>/VelmorVersion.h for that version.
function(velmor_version_header folder version)
  velmor_check_version("${version}")
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  if(count EQUAL 3)
    list(APPEND parts 0)
  endif()
  # No leading zeros in the resource's numbers (windres would read them as octal).
  set(numbers)
  foreach(part IN LISTS parts)
    math(EXPR number "${part}")
    list(APPEND numbers ${number})
  endforeach()
  string(REPLACE ";" "," VELMOR_VERSION_COMMAS "${numbers}")
  set(VELMOR_VERSION_TEXT "${version}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VelmorVersion.h.in ${folder}/VelmorVersion.h @ONLY)
endfunction()

# velmor_next_version(<version> <out>): the version one above, in the third number (Windows
# Installer compares the first three numbers of a product version only).
function(velmor_next_version version out)
  string(REPLACE "." ";" parts "${version}")
  list(GET parts 0 major)
  list(GET parts 1 minor)
  list(GET parts 2 build)
  math(EXPR build "${build} + 1")
  set(${out} "${major}.${minor}.${build}" PARENT_SCOPE)
endfunction()
