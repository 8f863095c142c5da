# Writes the query base classes from the table lists of OstrelDal/QueryTables.h: one header
# XxxQueryBase.h per list and QueryBases.cpp with their constructors and key constraints.
#
#   cmake -DTABLES=<QueryTables.h> -DOUTPUT_DIR=<dir> [-DCHECK=ON] -P GenerateQueryBases.cmake
#
# With CHECK nothing is written: the script fails naming every file whose text differs from what
# it would write, so the checked-in files cannot drift from the lists unnoticed.

cmake_minimum_required(VERSION 3.25)

if(NOT TABLES OR NOT OUTPUT_DIR)
  message(FATAL_ERROR "usage: cmake -DTABLES=QueryTables.h -DOUTPUT_DIR=dir [-DCHECK=ON] -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

set(banner "// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's\n// list there and build the target ostrel_query_bases.\n")

# ---- reading the lists: a comment block, then "#define OSTRELDAL_TABLE_Stem(X)" and its
# X(kind, Name) entries on continued lines.
file(READ ${TABLES} text)
# Semicolons separate list elements and brackets group them: the comments' semicolons wait out
# the splitting under another name, and brackets are refused.
if(text MATCHES "[][]")
  message(FATAL_ERROR "${TABLES}: brackets are not expected")
endif()
string(REPLACE ";" "@SEMICOLON@" text "${text}")
string(REPLACE "\\\n" " " text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(stems "")
set(comment "")
foreach(line IN LISTS lines)
  if(line MATCHES "^#define OSTRELDAL_TABLE_([A-Za-z]+)\\(X\\)")
    set(stem ${CMAKE_MATCH_1})
    list(APPEND stems ${stem})
    set(comment_${stem} "${comment}")
    set(comment "")
    string(REGEX MATCHALL "X\\([A-Z_]+, *[A-Za-z]+\\)" entries "${line}")
    set(entries_${stem} "")
    foreach(entry IN LISTS entries)
      string(REGEX REPLACE "X\\(([A-Z_]+), *([A-Za-z]+)\\)" "\\1:\\2" entry "${entry}")
      list(APPEND entries_${stem} ${entry})
    endforeach()
  elseif(line MATCHES "^// ----" OR line STREQUAL "")
    set(comment "")
  elseif(line MATCHES "^//")
    string(REPLACE "@SEMICOLON@" ";" line "${line}")
    string(APPEND comment "${line}\n")
  endif()
endforeach()
if(NOT stems)
  message(FATAL_ERROR "${TABLES} holds no table list")
endif()

# ---- writing

set(cpp "${banner}\n// The constructors and key constraints of the query base classes.\n\n#include \"OstrelDal/OstrelDal.h\"\n\nnamespace OstrelDal {\n")
set(outputs "")
foreach(stem IN LISTS stems)
  set(accessors "")
  set(members "")
  set(constraints "")
  set(columns "")
  set(alias "")
  set(supplied OFF)
  foreach(entry IN LISTS entries_${stem})
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 kind)
    list(GET entry 1 name)
    if(kind STREQUAL "TABLE_KEY")
      set(supplied ON)
    endif()
  endforeach()
  if(supplied)
    set(table "_tbGrant")
  else()
    set(table "_tb${stem}")
  endif()
  foreach(entry IN LISTS entries_${stem})
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 kind)
    list(GET entry 1 name)
    if(kind STREQUAL "COLUMN" OR kind STREQUAL "NAMED_COLUMN")
      list(APPEND columns ${name})
      string(APPEND accessors
        "    const VeskDal::SqlColumn& column${name}() const { return _col${name}; }\n"
        "    VeskDal::SqlColumn& column${name}() { return _col${name}; }\n")
      if(kind STREQUAL "NAMED_COLUMN")
        string(APPEND members "    VeskDal::SqlColumn _col${name}{this, ${table}, \"${name}\", \"${name}\"};\n")
      else()
        string(APPEND members "    VeskDal::SqlColumn _col${name}{this, ${table}, \"${name}\", \"\"};\n")
      endif()
    elseif(kind STREQUAL "KEY" OR kind STREQUAL "TABLE_KEY")
      string(APPEND accessors
        "    void constrain${name}(const VeskDal::SqlColumnPtr& value) { _val${name}Constraint = value; }\n")
      string(APPEND members "    VeskDal::SqlColumnPtr _val${name}Constraint;\n")
      if(kind STREQUAL "KEY")
        if(NOT name IN_LIST columns)
          message(FATAL_ERROR "${stem}: key ${name} is no column of the list before it")
        endif()
        string(APPEND constraints "    appendEqual(conditionS, _col${name}, _val${name}Constraint);\n")
      else()
        string(APPEND constraints "    appendEqual(conditionS, ${table}, \"${name}\", _val${name}Constraint);\n")
      endif()
    elseif(kind STREQUAL "ALIAS")
      set(alias ${name})
    elseif(NOT kind STREQUAL "PLUGIN_COLUMN")
      message(FATAL_ERROR "${stem}: unknown entry kind ${kind}")
    endif()
  endforeach()

  string(TOUPPER "${stem}" upper)
  set(guard "OSTRELDAL_${upper}QUERYBASE_H")
  set(h "${banner}\n#ifndef ${guard}\n#define ${guard}\n\n#include \"OstrelDal/QueryPattern.h\"\n\nnamespace OstrelDal {\n\n")
  string(APPEND h "${comment_${stem}}")
  string(APPEND h "class OSTRELDAL_API ${stem}QueryBase : public VeskDal::SqlQueryBase {\npublic:\n")
  if(supplied)
    string(APPEND h "    explicit ${stem}QueryBase(const VeskDal::SqlTable& table);\n")
  else()
    string(APPEND h "    // On a schema the table goes by its own name; a supplied table (another alias or schema) is taken\n"
                    "    // as it is, the columns keeping their names.\n"
                    "    explicit ${stem}QueryBase(const VeskDal::SqlSchema& schema);\n"
                    "    explicit ${stem}QueryBase(const VeskDal::SqlTable& table);\n")
  endif()
  string(APPEND h
    "\n"
    "    // Runs one statement on database (see QueryPattern); the result is rows delivered or affected.\n"
    "    virtual int select(VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database,\n"
    "                       VeskDal::SqlQueryBase::QueryType type) = 0;\n"
    "    virtual int insert(VeskDal::DalDatabase& database) = 0;\n"
    "    virtual int update(VeskDal::DalDatabase& database) = 0;\n"
    "    virtual int remove(VeskDal::DalDatabase& database) = 0;\n"
    "    // Appends column = value for each valid key constraint, in key order.\n"
    "    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS);\n"
    "\n"
    "${accessors}"
    "\n"
    "protected:\n"
    "    // The columns are built after the table, which they refer to.\n"
    "    VeskDal::SqlTable ${table};\n"
    "${members}"
    "};\n\n"
    "} // namespace OstrelDal\n\n#endif\n")
  list(APPEND outputs ${stem}QueryBase.h)
  set(text_${stem}QueryBase.h "${h}")

  string(APPEND cpp "\n// ---- ${stem}QueryBase\n\n")
  if(NOT supplied)
    string(APPEND cpp
      "${stem}QueryBase::${stem}QueryBase(const VeskDal::SqlSchema& schema)\n"
      "    : ${stem}QueryBase(VeskDal::SqlTable(schema, \"${stem}\", \"${alias}\"))\n{\n}\n\n")
  endif()
  string(APPEND cpp
    "${stem}QueryBase::${stem}QueryBase(const VeskDal::SqlTable& table)\n    : ${table}(table)\n{\n}\n\n"
    "void ${stem}QueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)\n{\n"
    "${constraints}}\n")
endforeach()
string(APPEND cpp "\n} // namespace OstrelDal\n")
list(APPEND outputs QueryBases.cpp)
set(text_QueryBases.cpp "${cpp}")

set(stale "")
foreach(output IN LISTS outputs)
  set(path ${OUTPUT_DIR}/${output})
  set(old "")
  if(EXISTS ${path})
    file(READ ${path} old)
  endif()
  if(NOT old STREQUAL text_${output})
    if(CHECK)
      list(APPEND stale ${output})
    else()
      file(WRITE ${path} "${text_${output}}")
    endif()
  endif()
endforeach()
if(stale)
  string(REPLACE ";" " " stale "${stale}")
  message(FATAL_ERROR "Out of date with QueryTables.h: ${stale}. Build the target ostrel_query_bases.")
endif()
