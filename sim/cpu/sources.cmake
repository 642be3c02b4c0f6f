# The processor (MSR banks, CPUID) and the embedded-controller firmware of the machine.
target_sources(ZoraVnb PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RequestLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Processors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EmbeddedController.cpp
)
target_include_directories(ZoraVnb PRIVATE ${CMAKE_CURRENT_LIST_DIR})
