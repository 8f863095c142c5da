#ifndef VESKDAL_SQLCONDITION_H
#define VESKDAL_SQLCONDITION_H

#include <memory>
#include <vector>

#include "VeskDal/Export.h"
#include "VeskDal/SqlColumn.h"
#include "VeskDal/SqlValue.h"

namespace VeskDal {

// Comparison of a condition. IS NULL and IS NOT NULL take no right-hand side. The enumerations
// have int underneath, so a value from outside them is refused when rendered, not undefined.
enum Condition : int {
    condLess = 1,
    condLessEqual = 2,
    condGreater = 3,
    condGreaterEqual = 4,
    condEqual = 5,
    condNotEqual = 6,
    condIsNull = 7,
    condIsNotNull = 8,
    condLike = 11,
    condNotLike = 12
};

// How the value of a LIKE condition becomes its pattern. likeAsIs uses the value as the pattern,
// with % and _ as wildcards and every other character (backslash included) standing for itself on
// every engine. The others match the value literally (its % and _ lose their meaning) inside, at
// the start or at the end of the text.
enum LikeModifier : int { likeAsIs = 0, likeContains = 1, likeStartsWith = 2, likeEndsWith = 3 };

// How two or more conditions combine.
enum Compound : int { compAnd = 0, compOr = 1 };

// Modifies a condition; only LIKE conditions look at it.
class VESKDAL_API SqlConditionModifier {
public:
    SqlConditionModifier(LikeModifier like = likeAsIs) : _like(like) {}
    LikeModifier like() const { return _like; }

private:
    LikeModifier _like;
};

// lhs <condition> rhs. Copyable; operands are shared snapshots (see SqlColumnPtr).
class VESKDAL_API SqlCondition {
public:
    // Two operands: columns, functions or values. For condIsNull/condIsNotNull rhs may be invalid.
    SqlCondition(const SqlColumnPtr& lhs, const SqlColumnPtr& rhs, Condition condition);
    // An operand against a value, with a modifier (LIKE patterns).
    SqlCondition(const SqlColumnPtr& column, const SqlValue& value, Condition condition,
                 SqlConditionModifier modifier);

    const SqlColumnPtr& lhs() const { return _lhs; }
    const SqlColumnPtr& rhs() const { return _rhs; }
    Condition condition() const { return _condition; }
    const SqlConditionModifier& modifier() const { return _modifier; }

private:
    SqlColumnPtr _lhs;
    SqlColumnPtr _rhs;
    Condition _condition;
    SqlConditionModifier _modifier;
};

class SqlCompoundCondition;

// A condition or a compound of conditions, or nothing (invalid). Holds an immutable snapshot taken
// when it is made: adding to a compound afterwards does not change the pointer's copy.
class VESKDAL_API SqlConditionPtr {
public:
    SqlConditionPtr() = default;
    SqlConditionPtr(const SqlCondition& condition);
    SqlConditionPtr(const SqlCompoundCondition& compound);

    bool isValid() const { return _pcondition || _pcompound; }
    // The single condition, or null.
    const SqlCondition* condition() const { return _pcondition.get(); }
    // The compound, or null.
    const SqlCompoundCondition* compound() const { return _pcompound.get(); }

private:
    std::shared_ptr<const SqlCondition> _pcondition;
    std::shared_ptr<const SqlCompoundCondition> _pcompound;
};

// Conditions joined by AND or OR; nested compounds are written in parentheses.
// An empty AND is true and an empty OR false when nested, but a WHERE clause or join condition
// that holds no condition at all is refused when rendered (SQLERR_EMPTYCONDITION).
class VESKDAL_API SqlCompoundCondition {
public:
    explicit SqlCompoundCondition(Compound compound = compAnd) : _compound(compound) {}

    // Appends a condition; returns this compound.
    SqlCompoundCondition& addCondition(const SqlCondition& condition);
    // Appends a copy of a compound (as it is now); returns this compound.
    SqlCompoundCondition& addCondition(const SqlCompoundCondition& compound);
    // Appends a condition or compound snapshot (invalid ones are ignored); returns this compound.
    SqlCompoundCondition& addCondition(const SqlConditionPtr& condition);

    // Number of conditions appended directly to this compound.
    int count() const { return static_cast<int>(_conditionS.size()); }
    Compound compound() const { return _compound; }
    const std::vector<SqlConditionPtr>& conditionS() const { return _conditionS; }

private:
    Compound _compound;
    std::vector<SqlConditionPtr> _conditionS;
};

} // namespace VeskDal

#endif
