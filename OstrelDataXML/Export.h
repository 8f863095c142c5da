#ifndef OSTRELDATAXML_EXPORT_H
#define OSTRELDATAXML_EXPORT_H

#define OSTRELDATAXML_API __attribute__((visibility("default")))

#endif
