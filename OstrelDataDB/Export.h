#ifndef OSTRELDATADB_EXPORT_H
#define OSTRELDATADB_EXPORT_H

#define OSTRELDATADB_API __attribute__((visibility("default")))

#endif
