list(APPEND ZORA_CORE_SOURCES cpu/CpuAgent.cpp cpu/EcAgent.cpp)
