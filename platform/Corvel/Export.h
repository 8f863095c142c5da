#ifndef CORVEL_EXPORT_H
#define CORVEL_EXPORT_H

#define CORVEL_API __attribute__((visibility("default")))

#endif
