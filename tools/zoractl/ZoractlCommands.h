#pragma once
// Commands of zoractl. Each returns the process exit code; 2 means "usage".
int ParseNumber(const wchar_t* text, unsigned long* out);
int ListDevices(int argc, wchar_t** argv);
int SwitchDevice(int argc, wchar_t** argv);
int SendEvent(int argc, wchar_t** argv);
int VnbCommand(int argc, wchar_t** argv);
