#ifndef OSTRELCLIENTCONFIG_EXPORT_H
#define OSTRELCLIENTCONFIG_EXPORT_H

#define OSTRELCLIENTCONFIG_API __attribute__((visibility("default")))

#endif
