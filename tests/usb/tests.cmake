# The USB host controller enumerator against the virtual notebook's controllers.
target_sources(zora_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/usb_test.cpp)

# Plugs devices in from another process (of either architecture).
add_executable(usb_peer ${CMAKE_CURRENT_LIST_DIR}/usb_peer.cpp)
target_link_libraries(usb_peer PRIVATE ZoraVnb)
target_link_options(usb_peer PRIVATE -municode)
zora_warnings(usb_peer)
add_dependencies(zora_tests usb_peer)
