# The display driver's section of the machine file.
target_sources(ZoraVnb PRIVATE ${CMAKE_CURRENT_LIST_DIR}/GraphicsSection.cpp)

# The display driver's control object "Vidorra.PanelBridge": an in-process COM server
# keeping its state in that section through ZoraVnb.dll beside it.
add_library(ZoraVnbPanel SHARED
  ${CMAKE_CURRENT_LIST_DIR}/PanelBridge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PanelServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZoraVnbPanel.def
)
set_target_properties(ZoraVnbPanel PROPERTIES PREFIX "" OUTPUT_NAME ZoraVnbPanel)
target_include_directories(ZoraVnbPanel PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/include
                           ${PROJECT_SOURCE_DIR}/core/include)
target_link_libraries(ZoraVnbPanel PRIVATE ole32 advapi32)
# The .def names the entries undecorated, as COM looks them up.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(ZoraVnbPanel PRIVATE -Wl,--enable-stdcall-fixup)
endif()
zora_warnings(ZoraVnbPanel)
add_dependencies(ZoraVnbPanel ZoraVnb)
install(TARGETS ZoraVnbPanel RUNTIME DESTINATION ${ZORA_BIN_DIR})
