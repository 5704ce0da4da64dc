/* Built for arm64 Mach-O: a root class with instance and class methods, a category on it,
 * and a second class, for the class metadata walker. */

__attribute__((objc_root_class))
@interface Root {
    void *isa;
}
- (int)instThing:(int)x;
+ (int)classThing;
@end

@implementation Root
- (int)instThing:(int)x { return x + 1; }
+ (int)classThing { return 7; }
@end

@interface Root (Extra)
- (int)catThing;
+ (int)catClassThing;
@end

@implementation Root (Extra)
- (int)catThing { return 3; }
+ (int)catClassThing { return 4; }
@end

__attribute__((objc_root_class))
@interface Other {
    void *isa;
}
- (int)otherThing;
@end

@implementation Other
- (int)otherThing { return 5; }
@end
