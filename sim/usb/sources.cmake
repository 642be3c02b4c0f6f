# The machine's USB host controllers, root hubs and attached devices.
target_sources(ZoraVnb PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UsbState.cpp ${CMAKE_CURRENT_LIST_DIR}/UsbHost.cpp)
