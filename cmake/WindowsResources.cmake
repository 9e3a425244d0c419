# The resources of a Brelvon program on Windows (icon, manifest, version information):
# brelvon_windows_resources(TARGET "中文说明" "English description"). Nothing elsewhere.
# The icon is rendered from the desktop icon's SVG (rsvg-convert) and packed with icotool.
if(NOT WIN32)
  function(brelvon_windows_resources)
  endfunction()
  return()
endif()

enable_language(RC)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICOTOOL icotool REQUIRED)
set(BRELVON_ICON ${CMAKE_BINARY_DIR}/windows/brelvon.ico)
set(_svg ${PROJECT_SOURCE_DIR}/data/desktop/io.github.brelvon.Brelvon.svg)
set(_pngs)
set(_commands)
# Explorer's sizes at 100 % to 200 %; 256 is stored as PNG, the others as bitmaps, which every
# part of Windows reads.
foreach(size 16 20 24 32 40 48 64 256)
  set(png ${CMAKE_BINARY_DIR}/windows/icon-${size}.png)
  list(APPEND _commands COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${_svg})
  if(size EQUAL 256)
    list(APPEND _pngs --raw=${png})
  else()
    list(APPEND _pngs ${png})
  endif()
endforeach()
add_custom_command(OUTPUT ${BRELVON_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/windows
  ${_commands}
  COMMAND ${ICOTOOL} --create --output=${BRELVON_ICON} ${_pngs}
  DEPENDS ${_svg}
  COMMENT "Making the Windows icon"
  VERBATIM)
add_custom_target(brelvon_windows_icon DEPENDS ${BRELVON_ICON})

function(brelvon_windows_resources target description_zh description_en)
  set(BRELVON_RC_NAME ${target})
  set(BRELVON_RC_DESCRIPTION_ZH ${description_zh})
  set(BRELVON_RC_DESCRIPTION_EN ${description_en})
  set(BRELVON_RC_ICON ${BRELVON_ICON})
  set(BRELVON_RC_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
  set(BRELVON_RC_VERSION_DOTS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0")
  set(dir ${CMAKE_BINARY_DIR}/windows/${target})
  set(BRELVON_RC_MANIFEST ${dir}/${target}.manifest)
  set(templates ${PROJECT_SOURCE_DIR}/packaging/windows/resources)
  configure_file(${templates}/program.manifest.in ${BRELVON_RC_MANIFEST} @ONLY)
  configure_file(${templates}/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_source_files_properties(${dir}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${BRELVON_ICON};${BRELVON_RC_MANIFEST}")
  add_dependencies(${target} brelvon_windows_icon)
endfunction()
