// amount 0 is fully grey, 1 or more the plain image; color tints the result.
precision mediump float;
uniform lowp sampler2D tex;
uniform lowp vec4 color;
uniform mediump float amount;
varying mediump vec2 vertexUVCoord;

void main() {
    lowp vec4 c = texture2D(tex, vertexUVCoord);
    lowp float grey = dot(c.rgb, vec3(0.299, 0.587, 0.114));
    gl_FragColor = vec4(mix(vec3(grey), c.rgb, clamp(amount, 0.0, 1.0)), c.a) * color;
}
