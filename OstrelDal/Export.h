#ifndef OSTRELDAL_EXPORT_H
#define OSTRELDAL_EXPORT_H

#define OSTRELDAL_API __attribute__((visibility("default")))

#endif
