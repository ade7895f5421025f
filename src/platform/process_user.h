#pragma once
// The account the process runs under ("varnik", "root"), for the start event: a recorder run as
// a service and the program run by hand write into the same files, and the log says which did.
#include <QString>

QString ProcessUserName();
