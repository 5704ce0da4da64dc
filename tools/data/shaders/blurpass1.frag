
// A positive step blurs vertically by that many uv units per tap, a negative one horizontally.
// weights, weights2 and centerWeight come from the prefix.
precision mediump float;
uniform lowp sampler2D tex;
uniform highp float stepUniform;
varying mediump vec2 vertexUVCoord;

void main() {
    highp vec2 d = stepUniform > 0.0 ? vec2(0.0, stepUniform) : vec2(-stepUniform, 0.0);
    lowp vec4 sum = texture2D(tex, vertexUVCoord) * centerWeight;
    sum += (texture2D(tex, vertexUVCoord + d) + texture2D(tex, vertexUVCoord - d)) * weights.x;
    sum += (texture2D(tex, vertexUVCoord + 2.0 * d) + texture2D(tex, vertexUVCoord - 2.0 * d)) * weights.y;
    sum += (texture2D(tex, vertexUVCoord + 3.0 * d) + texture2D(tex, vertexUVCoord - 3.0 * d)) * weights.z;
    sum += (texture2D(tex, vertexUVCoord + 4.0 * d) + texture2D(tex, vertexUVCoord - 4.0 * d)) * weights.w;
    sum += (texture2D(tex, vertexUVCoord + 5.0 * d) + texture2D(tex, vertexUVCoord - 5.0 * d)) * weights2.x;
    sum += (texture2D(tex, vertexUVCoord + 6.0 * d) + texture2D(tex, vertexUVCoord - 6.0 * d)) * weights2.y;
    sum += (texture2D(tex, vertexUVCoord + 7.0 * d) + texture2D(tex, vertexUVCoord - 7.0 * d)) * weights2.z;
    sum += (texture2D(tex, vertexUVCoord + 8.0 * d) + texture2D(tex, vertexUVCoord - 8.0 * d)) * weights2.w;
    gl_FragColor = sum;
}
