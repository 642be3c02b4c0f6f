#include "AppConfig.h"
