# The I/O controller hub, its PCI functions and the driver functions 3-11.
target_sources(ZoraVnb PRIVATE ${CMAKE_CURRENT_LIST_DIR}/HwMachine.cpp ${CMAKE_CURRENT_LIST_DIR}/HwDefaults.cpp
               ${CMAKE_CURRENT_LIST_DIR}/HwDriver.cpp ${CMAKE_CURRENT_LIST_DIR}/HwExports.cpp)
