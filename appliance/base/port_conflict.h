// Ports the appliance keeps for itself; no package service may take them.
// 21 ftp, 22 ssh, 23 telnet, 25 smtp, 53 dns, 80/443 the administration web
// server, 111 rpcbind, 139/445 file sharing, 873 rsync, 2049 nfs, 5000/5001
// the administration web server's own ports.
#pragma once

#include <array>

namespace orva_services {

constexpr std::array<int, 14> kReservedPorts = {21,  22,  23,  25,  53,   80,   111,
                                                139, 443, 445, 873, 2049, 5000, 5001};

}  // namespace orva_services
