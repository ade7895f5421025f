#pragma once
// The program's publishing target, from the settings store (group "MQTT": "URL", "Station",
// "Discovery" = 0 or false to leave discovery out, "DiscoveryPrefix", "CAFile" for mqtts://).
#include "publish/publisher.h"

// False while no URL is set (nothing is published).
bool PublishTargetFromSettings(PublishTarget* target);
