// Identifiers of the program's resources (shared by the .rc files and the code).
#pragma once

// Default captions of the message box kinds.
#define IDS_CAPTION_INFORMATION 61440
#define IDS_CAPTION_CONFIRM 61441
#define IDS_CAPTION_WARNING 61442
#define IDS_CAPTION_ERROR 61443

// Pictures of the wizard and the program's icon (resources/pictures).
#define IDI_SETUP 1
#define IDB_WIZARD_SIDE 200
#define IDI_PAGE_READY 201
#define IDI_PAGE_FOLDER 202
#define IDI_PAGE_GROUP 203
