# The programs' icon, rendered at build time from its one drawing, connector/app/icon/.
#
# Windows picks the image of an icon by the size it needs: 16 pixels in the notification area
# and for small window icons at 100 % (20 at 125 %, 24 at 150 %, 32 at 200 %), 32 for large
# window icons (48 at 150 %, 64 at 200 %), and up to 256 in Explorer's views. An image it has
# to scale comes out blurred, so every one of those sizes is rendered. The sizes up to 24 use
# the drawing's pixel-grid variant. All are kept with 8-bit alpha; the 256 image as PNG, as
# Explorer expects it.

set(KX7_ICON_SMALL_SIZES 16 20 24)
set(KX7_ICON_LARGE_SIZES 32 48 64)
set(KX7_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
# The rendered icon; the resource scripts name it by its file name and find it on their
# include path.
set(KX7_ICON_FILE ${KX7_ICON_DIR}/KX7AutoConnector.ico)

# kx7_render_icon(SVG CSS)
# Adds the target kx7_icon, which renders SVG into KX7_ICON_FILE; CSS selects the small variant.
function(kx7_render_icon svg css)
    find_program(KX7_RSVG_CONVERT rsvg-convert REQUIRED)
    find_program(KX7_ICOTOOL icotool REQUIRED)
    set(commands)
    set(images)
    foreach(size ${KX7_ICON_SMALL_SIZES} ${KX7_ICON_LARGE_SIZES} 256)
        set(png ${KX7_ICON_DIR}/icon-${size}.png)
        set(style)
        if(size IN_LIST KX7_ICON_SMALL_SIZES)
            set(style --stylesheet ${css})
        endif()
        list(APPEND commands COMMAND ${KX7_RSVG_CONVERT} ${style} --width ${size} --height ${size}
                                     --output ${png} ${svg})
        if(size EQUAL 256)
            list(APPEND images --raw=${png})
        else()
            list(APPEND images ${png})
        endif()
    endforeach()
    add_custom_command(
        OUTPUT ${KX7_ICON_FILE}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${KX7_ICON_DIR}
        ${commands}
        COMMAND ${KX7_ICOTOOL} --create --bit-depth=32 --output=${KX7_ICON_FILE} ${images}
        DEPENDS ${svg} ${css}
        COMMENT "Rendering the icon in every size"
        VERBATIM)
    add_custom_target(kx7_icon DEPENDS ${KX7_ICON_FILE})
endfunction()

# kx7_use_icon(TARGET RC_FILE)
# The target's resource script RC_FILE includes the rendered icon: render it first, and compile
# the script again when the icon changes.
function(kx7_use_icon target rc)
    add_dependencies(${target} kx7_icon)
    target_include_directories(${target} PRIVATE ${KX7_ICON_DIR})
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${KX7_ICON_FILE})
endfunction()
