# Firewall service definition of the calendar and contacts server.
[tessaro]
title="Calendar and contacts server (HTTP)"
desc="CardDAV and CalDAV over HTTP"
port_forward="yes"
dst.ports="8008/tcp"

[tessaro_ssl]
title="Calendar and contacts server (HTTPS)"
desc="CardDAV and CalDAV over HTTPS"
port_forward="yes"
dst.ports="8443/tcp"
