#pragma once

#define IDS_SERVICENAME 100
#define IDR_ZORASRVC 100
