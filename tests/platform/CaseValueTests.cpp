// The shared wrapper of values that are one of several cases.
#include "platform/core/CaseValue.h"

#include <cmath>
#include <gtest/gtest.h>
#include <type_traits>

namespace velm {
namespace {

struct ShapeCases {
    struct Circle {
        double radius;
        friend bool operator==(const Circle&, const Circle&) = default;
    };
    // Sides within half a unit count as equal: a case may define its own equality.
    struct Square {
        double side;
        friend bool operator==(const Square& a, const Square& b) { return std::fabs(a.side - b.side) < 0.5; }
    };
    struct Empty {
        friend bool operator==(const Empty&, const Empty&) = default;
    };
};

class Shape : public ShapeCases, public CaseValue<ShapeCases::Circle, ShapeCases::Square, ShapeCases::Empty> {
public:
    using CaseValue::CaseValue;
};

// A wrapper with another wrapper as one of its cases.
class Drawing : public CaseValue<Shape, int> {
public:
    using CaseValue::CaseValue;
};

static_assert(std::is_convertible_v<Shape::Circle, Shape>);
static_assert(!std::is_default_constructible_v<Shape>);
static_assert(!std::is_constructible_v<Shape, int*>);
static_assert(std::is_convertible_v<Shape, Drawing>);
static_assert(!std::is_convertible_v<Drawing, Shape>);

TEST(CaseValue, GivesTheFieldsOfItsOwnCaseAndComparesByCaseThenByTheCasesOwnEquality) {
    const Shape shape = Shape::Circle{2.5};
    ASSERT_NE(shape.get<Shape::Circle>(), nullptr);
    EXPECT_EQ(shape.get<Shape::Circle>()->radius, 2.5);
    EXPECT_EQ(shape.get<Shape::Square>(), nullptr);
    EXPECT_TRUE((shape.isOneOf<Shape::Empty, Shape::Circle>()));
    EXPECT_FALSE((shape.isOneOf<Shape::Square, Shape::Empty>()));

    EXPECT_EQ(Shape(Shape::Square{1.0}), Shape(Shape::Square{1.2}));
    EXPECT_NE(Shape(Shape::Circle{1.0}), Shape(Shape::Circle{1.2}));
    EXPECT_NE(Shape(Shape::Circle{0}), Shape(Shape::Empty{}));
    EXPECT_EQ(Shape(Shape::Empty{}), Shape::Empty{});
}

TEST(CaseValue, CopiesAWrapperRatherThanWrappingIt) {
    Shape shape = Shape::Square{3};
    Shape copy(shape); // a non-const lvalue, which a greedy converting constructor would take
    EXPECT_EQ(copy, shape);

    Drawing drawing(shape);
    ASSERT_NE(drawing.get<Shape>(), nullptr);
    EXPECT_EQ(*drawing.get<Shape>(), shape);
    Drawing again(drawing);
    EXPECT_EQ(again, drawing);
    EXPECT_EQ(again.get<int>(), nullptr);
}

} // namespace
} // namespace velm
