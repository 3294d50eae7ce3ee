# Finds OpenCV from Debian's per-module development packages
# (libopencv-core-dev, libopencv-imgproc-dev, ...). The CMake package file
# OpenCVConfig.cmake comes only with the umbrella package, which pulls in every
# module and its dependencies; this module needs just the ones asked for.
#
# find_package(OpenCV REQUIRED COMPONENTS core imgproc ...) defines
# OpenCV_INCLUDE_DIRS, OpenCV_LIBS and one imported target opencv_<component>
# per component.
find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
set(OpenCV_LIBS "")
set(_opencv_missing "")
foreach(_component IN LISTS OpenCV_FIND_COMPONENTS)
  find_library(OpenCV_${_component}_LIBRARY NAMES opencv_${_component})
  if(OpenCV_${_component}_LIBRARY AND OpenCV_INCLUDE_DIR)
    set(OpenCV_${_component}_FOUND TRUE)
    if(NOT TARGET opencv_${_component})
      add_library(opencv_${_component} UNKNOWN IMPORTED)
      set_target_properties(opencv_${_component} PROPERTIES
        IMPORTED_LOCATION "${OpenCV_${_component}_LIBRARY}"
        INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIR}"
        INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIR}")
    endif()
    list(APPEND OpenCV_LIBS opencv_${_component})
  else()
    list(APPEND _opencv_missing ${_component})
  endif()
endforeach()
set(OpenCV_INCLUDE_DIRS "${OpenCV_INCLUDE_DIR}")
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV REQUIRED_VARS OpenCV_INCLUDE_DIR HANDLE_COMPONENTS
  REASON_FAILURE_MESSAGE "install the Debian packages libopencv-<module>-dev for: ${_opencv_missing}")
mark_as_advanced(OpenCV_INCLUDE_DIR)
