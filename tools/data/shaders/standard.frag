// COLOR tints (multiplies); AMBIENT_COLOR fills the image's shape with the colour;
// COLOR_AND_AMBIENT_COLOR multiplies, then adds ambientColor where the image is opaque;
// MASK multiplies by the second texture, COLOR_MASK also by the colour.
precision mediump float;
uniform lowp sampler2D tex;
varying mediump vec2 vertexUVCoord;
#if defined(COLOR) || defined(AMBIENT_COLOR) || defined(COLOR_AND_AMBIENT_COLOR) || defined(COLOR_MASK)
uniform lowp vec4 color;
#endif
#ifdef COLOR_AND_AMBIENT_COLOR
uniform lowp vec4 ambientColor;
#endif
#ifdef UV2
uniform lowp sampler2D tex2;
varying mediump vec2 vertexUVCoord2;
#endif

void main() {
    lowp vec4 c = texture2D(tex, vertexUVCoord);
#if defined(COLOR)
    c *= color;
#elif defined(AMBIENT_COLOR)
    c = vec4(color.rgb * c.a, c.a) * color.a;
#elif defined(COLOR_AND_AMBIENT_COLOR)
    c = c * color + vec4(ambientColor.rgb * c.a, 0.0);
#elif defined(COLOR_MASK)
    c *= color * texture2D(tex2, vertexUVCoord2);
#elif defined(MASK)
    c *= texture2D(tex2, vertexUVCoord2);
#endif
    gl_FragColor = c;
}
