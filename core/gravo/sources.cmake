list(APPEND ZORA_CORE_SOURCES gravo/GravoAgent.cpp)
# The graphics agent reaches the driver's control object through COM; the library's
# targets are made after this file is read.
cmake_language(DEFER CALL target_link_libraries ZORADLL PRIVATE ole32)
cmake_language(DEFER CALL target_link_libraries zora_static INTERFACE ole32)
