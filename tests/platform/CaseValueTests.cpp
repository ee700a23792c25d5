// The shared wrapper of values that are one of several cases.
#include "platform/core/CaseValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <type_traits>

namespace velm {
namespace {

struct ShapeCases {
    struct Circle {
        double radius;
        friend bool operator==(const Circle&, const Circle&) = default;
    };
    // Names are equal whatever their letter case, as a case may define its own equality.
    struct Named {
        std::string name;
        friend bool operator==(const Named& a, const Named& b) {
            return a.name.size() == b.name.size() &&
                   std::equal(a.name.begin(), a.name.end(), b.name.begin(), [](char x, char y) {
                       return std::tolower(static_cast<unsigned char>(x)) ==
                              std::tolower(static_cast<unsigned char>(y));
                   });
        }
    };
    struct Empty {
        friend bool operator==(const Empty&, const Empty&) = default;
    };
};

class Shape : public ShapeCases, public CaseValue<ShapeCases::Circle, ShapeCases::Named, ShapeCases::Empty> {
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

TEST(CaseValue, GivesTheFieldsOfItsOwnCaseOnly) {
    const Shape shape = Shape::Circle{2.5};
    ASSERT_NE(shape.get<Shape::Circle>(), nullptr);
    EXPECT_EQ(shape.get<Shape::Circle>()->radius, 2.5);
    EXPECT_EQ(shape.get<Shape::Named>(), nullptr);
    EXPECT_EQ(shape.value().index(), 0u);

    EXPECT_TRUE(shape.isOneOf<Shape::Circle>());
    EXPECT_TRUE((shape.isOneOf<Shape::Empty, Shape::Circle>()));
    EXPECT_FALSE((shape.isOneOf<Shape::Named, Shape::Empty>()));
}

TEST(CaseValue, ComparesByCaseAndThenByTheCasesOwnEquality) {
    EXPECT_EQ(Shape(Shape::Named{"Door"}), Shape(Shape::Named{"dOOR"}));
    EXPECT_NE(Shape(Shape::Named{"Door"}), Shape(Shape::Named{"Doors"}));
    EXPECT_NE(Shape(Shape::Circle{1}), Shape(Shape::Circle{2}));
    EXPECT_NE(Shape(Shape::Circle{0}), Shape(Shape::Empty{}));
    EXPECT_EQ(Shape(Shape::Empty{}), Shape::Empty{});
}

TEST(CaseValue, CopiesAWrapperRatherThanWrappingIt) {
    Shape shape = Shape::Named{"door"};
    Shape copy(shape); // a non-const lvalue would prefer a greedy converting constructor
    EXPECT_EQ(copy.get<Shape::Named>()->name, "door");

    Drawing drawing(shape);
    ASSERT_NE(drawing.get<Shape>(), nullptr);
    EXPECT_EQ(*drawing.get<Shape>(), shape);
    Drawing again(drawing);
    EXPECT_EQ(again, drawing);
    EXPECT_EQ(again.get<int>(), nullptr);
}

} // namespace
} // namespace velm
