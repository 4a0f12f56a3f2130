#pragma once
// The hosted platform the unit tests run on: made by main before the first test, and handed to
// every host service a test puts back.
#include "platform/host/HostPlatform.h"

Host::HostPlatform& unitPlatform();
