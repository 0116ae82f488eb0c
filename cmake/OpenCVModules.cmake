# Imported targets opencv::<module> for the OpenCV modules installed from Debian's per-module -dev
# packages, which (unlike the libopencv-dev meta package) ship no OpenCVConfig.cmake.
find_path(TOVAK_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)

function(tovak_opencv_module name)
    if(TARGET opencv::${name})
        return()
    endif()
    find_library(TOVAK_OPENCV_${name}_LIBRARY NAMES opencv_${name} REQUIRED)
    add_library(opencv::${name} SHARED IMPORTED GLOBAL)
    set_target_properties(opencv::${name} PROPERTIES
        IMPORTED_LOCATION ${TOVAK_OPENCV_${name}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${TOVAK_OPENCV_INCLUDE_DIR})
endfunction()
