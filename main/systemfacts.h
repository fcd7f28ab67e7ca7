// The last step of startup: the Windows, system and Program Files
// directories and the administrator flag.
#pragma once

void GatherSystemFacts();
