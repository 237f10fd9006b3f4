// Ids of the source module's resources shared by code and resource scripts.
#pragma once

#define IDS_MANUFACTURER 0
#define IDS_PRODUCT_FAMILY 1
#define IDS_VERSION_INFO 3
#define IDS_RESOURCE_MODULE 4
#define IDS_APPLICATION_ERROR 328
