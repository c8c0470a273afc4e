// The client GUID: identifies this client in QoS reports. Kept in
// "Pellarn\Vastrim\Common.ini" (section "QOS", key "GUID") under the user's
// application-data folder, so every installation of the user shares it.
#pragma once

#include <string>

namespace udra {

// Path of Common.ini; empty when the application-data folder is unknown.
std::string CommonIniPath();
// The stored GUID, or "" when there is none.
std::string ReadClientGuid();
void WriteClientGuid(const std::string& guid);
// The stored GUID, or a new one that is stored for next time.
std::string GetClientGuid();

}  // namespace udra
