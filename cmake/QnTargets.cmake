# Layer targets. The folders of the tree do not line up with the dependency
# layers everywhere, so a folder hands its units to a layer with
# qn_add_sources() and the layers are created once every folder has spoken
# (qn_create_layers). A layer nobody has given sources to yet becomes an
# INTERFACE target, so everything above it links the same way either way.
#
#   qn_base <- qn_core <- qn_net <- qn_api <- qn_store, qn_server, qn_recovery
#           <- qn_updater (the Updater commands) <- updater (main, console)

set(QN_LAYERS qn_base qn_core qn_net qn_api qn_store qn_server qn_recovery qn_updater)
set(QN_DEPS_qn_base    Threads::Threads)
set(QN_DEPS_qn_core    qn_base)
set(QN_DEPS_qn_net     qn_core)
set(QN_DEPS_qn_api     qn_net)
set(QN_DEPS_qn_store   qn_api)
set(QN_DEPS_qn_server  qn_api)
set(QN_DEPS_qn_recovery qn_api)
set(QN_DEPS_qn_updater qn_store qn_server qn_recovery)

# qn_add_sources(<layer> <file>...) : relative paths are taken from the
# calling folder.
function(qn_add_sources layer)
  foreach(f ${ARGN})
    get_filename_component(abs ${f} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY QN_SOURCES_${layer} ${abs})
  endforeach()
endfunction()

# qn_add_links(<layer> <library>...) : external libraries a layer's units use.
function(qn_add_links layer)
  set_property(GLOBAL APPEND PROPERTY QN_LINKS_${layer} ${ARGN})
endfunction()

function(qn_create_layers)
  foreach(layer ${QN_LAYERS})
    get_property(srcs GLOBAL PROPERTY QN_SOURCES_${layer})
    get_property(links GLOBAL PROPERTY QN_LINKS_${layer})
    if(srcs)
      add_library(${layer} STATIC ${srcs})
      target_include_directories(${layer} PUBLIC ${PROJECT_SOURCE_DIR})
      target_link_libraries(${layer} PUBLIC ${QN_DEPS_${layer}} ${links})
    else()
      add_library(${layer} INTERFACE)
      target_include_directories(${layer} INTERFACE ${PROJECT_SOURCE_DIR})
      target_link_libraries(${layer} INTERFACE ${QN_DEPS_${layer}} ${links})
    endif()
  endforeach()
endfunction()
